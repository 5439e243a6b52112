// What the kernel says of a process: CPU time, memory and mapped libraries, for benchmarks
// and the soak; and of this process's connections, for the rig tool.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::rig {

// CPU time of all threads in seconds (the scheduler's run time, else user plus system time
// from /proc/PID/stat); 0 is this process.
std::optional<double> CpuSeconds(std::int64_t pid = 0);
// A "VmXXX:" line of /proc/PID/status in KiB, e.g. VmKiB("VmHWM").
std::optional<std::int64_t> VmKiB(const char* field, std::int64_t pid = 0);
// The shared libraries the process has mapped (paths from /proc/PID/maps, each once, in
// the order first mapped); none when the process cannot be read.
std::optional<std::vector<std::string>> MappedLibraries(std::int64_t pid = 0);
// "address:port" of the peer of each of this process's IPv4 TCP connections whose own end
// has port `port` (a server's side of the connections it accepted), in descriptor order.
std::vector<std::string> ConnectionPeers(std::uint16_t port);

}  // namespace corvane::rig
