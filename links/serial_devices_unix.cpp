// The serial devices present on Linux, and whether this user may use one.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <map>
#include <system_error>

#include "links/serial_devices.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

// The number after a kernel name's prefix ("10" of ttyUSB10); no value when it is none.
std::optional<unsigned> NumberAfter(const std::string& name, std::size_t prefixSize) {
    const char* first = name.data() + prefixSize;
    const char* last = name.data() + name.size();
    unsigned n = 0;
    const auto [end, error] = std::from_chars(first, last, n);
    if (first == last || error != std::errc() || end != last) return std::nullopt;
    return n;
}

// Kernel names of one kind ("ttyUSB"), in number order, ttyUSB2 before ttyUSB10.
std::vector<std::string> NamesOfKind(const fs::path& dev, const std::string& prefix) {
    std::vector<std::pair<unsigned, std::string>> found;
    std::error_code ec;
    // Links whose device is gone are listed too: the caller decides about them.
    for (fs::directory_iterator it(dev, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        if (const std::optional<unsigned> n = NumberAfter(name, prefix.size()))
            found.emplace_back(*n, name);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (auto& [n, name] : found) names.push_back(std::move(name));
    return names;
}

// A ttyS node exists for every possible port; only one with hardware behind it answers.
bool Answers(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool answers = false;
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
        answers = info.type != PORT_UNKNOWN;
    } else {
        int lines = 0;
        answers = ::ioctl(fd, TIOCMGET, &lines) == 0;
    }
    ::close(fd);
    return answers;
}

// The device a path leads to, links resolved; empty when it leads nowhere.
std::string Resolved(const fs::path& path) {
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    return ec ? std::string() : target.string();
}

// Device (resolved) -> its first stable name under serial/by-id.
std::map<std::string, std::string> StableNames(const fs::path& dev) {
    std::vector<fs::path> links;
    std::error_code ec;
    for (fs::directory_iterator it(dev / "serial" / "by-id", ec), end; !ec && it != end;
         it.increment(ec))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    std::map<std::string, std::string> names;
    for (const fs::path& link : links) {
        const std::string target = Resolved(link);
        if (!target.empty()) names.emplace(target, link.string());  // the first name stays
    }
    return names;
}

}  // namespace

std::vector<std::string> SerialDevices(const std::string& deviceFolder) {
    const fs::path dev(deviceFolder);
    const std::map<std::string, std::string> stable = StableNames(dev);
    std::vector<std::string> devices;
    auto add = [&](const fs::path& path) {
        const auto it = stable.find(Resolved(path));
        devices.push_back(it != stable.end() ? it->second : path.string());
    };
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const std::string& name : NamesOfKind(dev, prefix)) {
            const fs::path path = dev / name;
            std::error_code ec;
            if (fs::exists(path, ec)) add(path);  // a link to a device that went is skipped
        }
    }
    for (const std::string& name : NamesOfKind(dev, "ttyS")) {
        const fs::path path = dev / name;
        if (Answers(path.string())) add(path);
    }
    return devices;
}

bool DeviceAccessRefused(const std::string& device) {
    return ::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

}  // namespace corvane
