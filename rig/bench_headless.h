// Figures of `corvane --headless` on the rig: the program as a child process between this
// process's pty terminal and loopback host.
#pragma once

#include <QString>

namespace corvane::rig {

// Prints latency both ways (median and p99 over 200 single bytes), idle CPU over 5 s with
// both links open and quiet, and peak memory (VmHWM) of the child.
void BenchHeadless(const QString& corvaneBinary);

}  // namespace corvane::rig
