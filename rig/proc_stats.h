// What the kernel says of a process: CPU time and memory, for benchmarks and the soak.
#pragma once

#include <QtGlobal>
#include <optional>

namespace corvane::rig {

// CPU time of all threads in seconds (the scheduler's run time, else user plus system time
// from /proc/PID/stat); 0 is this process.
std::optional<double> CpuSeconds(qint64 pid = 0);
// A "VmXXX:" line of /proc/PID/status in KiB, e.g. VmKiB("VmHWM").
std::optional<qint64> VmKiB(const char* field, qint64 pid = 0);

}  // namespace corvane::rig
