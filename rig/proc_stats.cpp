#include "rig/proc_stats.h"

#include <arpa/inet.h>
#include <fmt/core.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvane::rig {

namespace {

std::string ProcPath(std::int64_t pid, const std::string& what) {
    return (pid == 0 ? std::string("/proc/self/") : "/proc/" + std::to_string(pid) + "/") + what;
}

// The whole file, or nothing when it cannot be read (a /proc file has no size to go by).
std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return std::nullopt;
    std::ostringstream text;
    text << f.rdbuf();
    return text.str();
}

std::string ReadProc(std::int64_t pid, const char* what) {
    return ReadFile(ProcPath(pid, what)).value_or(std::string());
}

// The blank-separated fields of the text, empty fields dropped.
std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields;
    std::istringstream in(text);
    for (std::string f; in >> f;) fields.push_back(f);
    return fields;
}

template <typename T>
std::optional<T> Number(const std::string& text) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

// The run time of every thread in nanoseconds, from the scheduler's own account: idle figures
// of a tenth of a percent need more than the 10 ms clock ticks of /proc/PID/stat.
std::optional<double> SchedulerSeconds(std::int64_t pid) {
    std::error_code ec;
    std::filesystem::directory_iterator threads(ProcPath(pid, "task"), ec);
    if (ec) return std::nullopt;
    double ns = 0;
    bool any = false;
    for (const auto& t : threads) {
        const auto text = ReadFile(t.path().string() + "/schedstat");
        if (!text) continue;  // the thread ended meanwhile
        const std::vector<std::string> fields = Fields(*text);
        const auto run = fields.empty() ? std::nullopt : Number<double>(fields[0]);
        if (!run) return std::nullopt;
        ns += *run;
        any = true;
    }
    if (!any) return std::nullopt;
    return ns / 1e9;
}

}  // namespace

std::optional<double> CpuSeconds(std::int64_t pid) {
    if (const auto precise = SchedulerSeconds(pid)) return precise;
    const std::string stat = ReadProc(pid, "stat");
    // The command name may hold blanks and parentheses: fields count from the last ")".
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    const std::vector<std::string> fields = Fields(stat.substr(close + 1));
    // After the name: state is field 3 of the whole line, utime 14, stime 15.
    if (fields.size() < 13) return std::nullopt;
    const auto user = Number<double>(fields[11]);
    const auto system = Number<double>(fields[12]);
    if (!user || !system) return std::nullopt;
    return (*user + *system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::optional<std::int64_t> VmKiB(const char* field, std::int64_t pid) {
    const std::string key = std::string(field) + ':';
    std::istringstream status(ReadProc(pid, "status"));
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, key.size(), key) != 0) continue;
        const std::vector<std::string> fields = Fields(line.substr(key.size()));
        if (const auto kib = fields.empty() ? std::nullopt : Number<std::int64_t>(fields[0]))
            return kib;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> MappedLibraries(std::int64_t pid) {
    const auto maps = ReadFile(ProcPath(pid, "maps"));
    if (!maps) return std::nullopt;
    std::vector<std::string> libraries;
    std::istringstream in(*maps);
    for (std::string line; std::getline(in, line);) {
        // address perms offset dev inode pathname: the path is what follows the fifth field.
        std::istringstream row(line);
        std::string skip, path;
        for (int i = 0; i < 5; ++i) row >> skip;
        std::getline(row >> std::ws, path);
        const std::string name = path.substr(path.rfind('/') + 1);
        if (path.empty() || path[0] != '/' || name.find(".so") == std::string::npos) continue;
        bool known = false;
        for (const std::string& l : libraries) known = known || l == path;
        if (!known) libraries.push_back(path);
    }
    return libraries;
}

std::vector<std::string> ConnectionPeers(std::uint16_t port) {
    std::vector<std::string> peers;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const auto fd = Number<int>(entry.path().filename().string());
        sockaddr_in own{}, peer{};
        socklen_t length = sizeof own;
        if (!fd || ::getsockname(*fd, reinterpret_cast<sockaddr*>(&own), &length) != 0 ||
            own.sin_family != AF_INET || ntohs(own.sin_port) != port)
            continue;
        length = sizeof peer;
        // A listening socket has no peer.
        if (::getpeername(*fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        peers.push_back(fmt::format("{}:{}", address, ntohs(peer.sin_port)));
    }
    return peers;
}

}  // namespace corvane::rig
