// The serial devices present on this machine, and the port entries that name a device path
// instead of a numbered port ("/dev/ttyUSB0:2400,e,7,1").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The settings a device entry opens at when it gives none: those of the relay.
inline const std::string kDeviceDefaultSettings = "2400,e,7,1";

// The USB and ACM serial devices under deviceFolder, then the ttyS ports that answer (open
// and report a port type or modem lines), each in number order. A device with a stable name
// under serial/by-id is given by that name. On Windows: the COM ports the registry's SERIALCOMM
// key lists, as "comN", in number order (deviceFolder is not used).
std::vector<std::string> SerialDevices(const std::string& deviceFolder = "/dev");

struct DeviceEntry {
    std::string device;
    std::string settings;
};
// A port entry that begins with "/" names a device. The settings follow its last ":" when
// that part is empty or holds a ","; otherwise the whole entry is the device (by-path names
// hold colons) and it opens at kDeviceDefaultSettings. No value for an entry without "/".
std::optional<DeviceEntry> ParseDeviceEntry(const std::string& entry);

// The message for a device entry that cannot be opened: "Can't open " + device + ":" +
// settings, and the reason on a second line, with the remedy when access was refused.
std::string DeviceOpenFailure(const DeviceEntry& entry, const std::string& reason,
                              bool accessRefused);
// True when this user may not read and write the device (not when it is missing or busy).
bool DeviceAccessRefused(const std::string& device);

}  // namespace corvane
