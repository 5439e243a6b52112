// The serial ports present on Windows: the COM ports the registry's SERIALCOMM key lists.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "links/serial_devices.h"

namespace corvane {

std::vector<std::string> SerialDevices(const std::string&) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    std::vector<unsigned> numbers;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name;
        char data[64];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG r = ::RegEnumValueA(key, i, name, &nameSize, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;  // a value too long is no COM port
        data[dataSize] = '\0';
        std::string port(data);
        while (!port.empty() && port.back() == '\0') port.pop_back();
        if (port.size() < 4 || (port.compare(0, 3, "COM") != 0 && port.compare(0, 3, "com") != 0))
            continue;
        unsigned n = 0;
        const auto [end, error] = std::from_chars(port.data() + 3, port.data() + port.size(), n);
        if (error == std::errc() && end == port.data() + port.size() && n > 0) numbers.push_back(n);
    }
    ::RegCloseKey(key);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<std::string> ports;
    for (const unsigned n : numbers) ports.push_back("com" + std::to_string(n));
    return ports;
}

// Windows refuses a port in use with "access denied": that is no matter of rights here.
bool DeviceAccessRefused(const std::string&) { return false; }

}  // namespace corvane

#endif  // _WIN32
