// The port entries that name a device path, and the message when one cannot be opened.
#include "links/serial_devices.h"

namespace corvane {

std::optional<DeviceEntry> ParseDeviceEntry(const std::string& entry) {
    if (entry.empty() || entry[0] != '/') return std::nullopt;
    const std::size_t colon = entry.rfind(':');
    if (colon != std::string::npos && colon > 0) {
        const std::string rest = entry.substr(colon + 1);
        if (rest.empty() || rest.find(',') != std::string::npos)
            return DeviceEntry{entry.substr(0, colon), rest};
    }
    return DeviceEntry{entry, kDeviceDefaultSettings};
}

std::string DeviceOpenFailure(const DeviceEntry& entry, const std::string& reason,
                              bool accessRefused) {
    std::string message = "Can't open " + entry.device + ':' + entry.settings;
    std::string why = reason;
    if (accessRefused) {
        if (!why.empty()) why += ": ";
        why += "add your user to the group dialout";
    }
    if (!why.empty()) message += '\n' + why;
    return message;
}

}  // namespace corvane
