// Figures of the headless program (corvane-headless) on the rig: the program as a child
// process between this process's pty terminal and loopback host.
#pragma once

#include <string>

namespace corvane::rig {

// Prints idle CPU over 10 s with both links open and quiet, latency both ways (median and
// p99 over 200 single bytes), throughput to the terminal, peak memory (VmHWM) and the shared
// libraries the child maps, and how it stops on SIGTERM.
void BenchHeadless(const std::string& headlessBinary);

}  // namespace corvane::rig
