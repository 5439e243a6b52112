// The keeper's watch for a terminal port's device on Windows. A COM port has no file whose
// appearance a change notification would report: while the device is away the keeper looks
// once a second (PathWatch watches nothing), and while it is present nothing looks at all.
#include <windows.h>

#include "links/unattended_internal.h"

namespace corvane {

namespace {

// "\\.\COM12" names the DOS device COM12.
std::string DosDeviceName(const std::string& path) {
    const std::string prefix = "\\\\.\\";
    if (path.rfind(prefix, 0) == 0) return path.substr(prefix.size());
    return path;
}

}  // namespace

bool DeviceMissing(const std::string& path) {
    if (path.empty()) return false;
    const std::string name = DosDeviceName(path);
    if (name.find_first_of("\\/:") == std::string::npos) {
        // Asked of the device's mapping: opening the port to look would take it from a program
        // that holds it, and could move its modem lines.
        char target[4096];
        if (::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) return false;
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// ---- PathWatch ----

struct PathWatch::Inner {};

PathWatch::PathWatch(asio::io_context& io, std::function<void()> changed)
    : io_(io), changed_(std::move(changed)) {}

PathWatch::~PathWatch() { Stop(); }

void PathWatch::Stop() { inner_.reset(); }

bool PathWatch::Watch(const std::vector<std::string>&) {
    Stop();
    return false;  // the keeper looks on its timer instead
}

}  // namespace corvane
