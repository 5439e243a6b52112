#include "rig/bench_headless.h"

#include <fmt/core.h>
#include <signal.h>

#include <asio/io_context.hpp>
#include <cstdio>
#include <exception>

#include "rig/bench_figures.h"
#include "rig/child_process.h"
#include "rig/loopback_host.h"
#include "rig/proc_stats.h"
#include "rig/pty_terminal.h"
#include "rig/temp_dir.h"

namespace corvane::rig {

namespace {

constexpr double kTargetMiB = 6.0;

// The libraries' file names, and whether any of them is Qt's.
void LibraryLines(std::int64_t pid) {
    const auto libraries = MappedLibraries(pid);
    if (!libraries) {
        Line("headless mapped libraries: cannot read them");
        return;
    }
    std::string names;
    bool qt = false;
    for (const std::string& path : *libraries) {
        const std::string name = path.substr(path.rfind('/') + 1);
        qt = qt || name.compare(0, 5, "libQt") == 0;
        names += (names.empty() ? "" : ", ") + name;
    }
    Line(fmt::format("headless maps {} shared libraries (no Qt library: {}): {}", libraries->size(),
                     Verdict(!qt), names));
}

void Run(const std::string& binary) {
    asio::io_context io;
    TempDir dir;
    PtyTerminal terminal(io, dir.path(), 1);
    LoopbackHost host(io);
    if (!host.listening()) {
        Line("headless: no loopback host: " + host.errorString());
        return;
    }
    // No display for the child, as on a box without one.
    ChildProcess program(
        io, binary,
        {"--port", terminal.linkPath(), "--host", fmt::format("127.0.0.1:{}", host.port()),
         "--resident-loaded"},
        ChildProcess::Environment({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}));
    if (!host.waitForBytes(2, 10000)) {
        Line(fmt::format("headless: {} did not come up", binary));
        program.waitForExit(100);
        std::fputs(program.err().c_str(), stderr);
        return;
    }
    host.takeReceived();
    const std::int64_t pid = program.pid();

    Idle(io, 1000);  // past start-up
    Line(
        fmt::format("headless idle CPU, both links open, no traffic: {:.2f} % of one core over "
                    "10 s",
                    IdleCpuPercent(io, 10000, pid)));

    constexpr int kSamples = 200;
    const Latencies l = MeasureLatencies(io, terminal, host, kSamples);
    Line("headless latency terminal->host: " + LatencyText(l.toHost, kSamples));
    Line("headless latency host->terminal: " + LatencyText(l.toTerminal, kSamples));

    constexpr int kBytes = 64 * 1024;
    const Throughput t = MeasureThroughput(terminal, host, kBytes, pid);
    Line(
        fmt::format("headless throughput host->terminal, pty at full speed: {:.0f} bytes/s over "
                    "{} bytes in {:.3f} s, {} (target >= 20000 bytes/s); CPU of the headless "
                    "program {:.2f} % of one core",
                    t.bytesPerSecond, kBytes, t.seconds,
                    t.intact ? "all bytes intact" : "BYTES LOST OR CHANGED", t.cpuPercent));

    const double peakMiB = static_cast<double>(VmKiB("VmHWM", pid).value_or(0)) / 1024.0;
    Line(fmt::format("headless peak memory (VmHWM): {:.1f} MiB (target <= {:.0f} MiB: {})", peakMiB,
                     kTargetMiB, Verdict(peakMiB > 0 && peakMiB <= kTargetMiB)));
    LibraryLines(pid);

    program.signal(SIGTERM);
    const bool ended = program.waitForExit(10000);
    const bool closed = host.waitForDisconnect(5000);
    Line(fmt::format("headless stop on SIGTERM: {}, status {}, host connection {}",
                     ended ? "ended" : "STILL RUNNING",
                     ended ? program.exitCode().value_or(-1) : -1,
                     closed ? "closed" : "STILL OPEN"));
    // What it said on its standard error (its standard output is of no interest here).
    std::fputs(program.err().c_str(), stderr);
}

}  // namespace

void BenchHeadless(const std::string& headlessBinary) {
    try {
        Run(headlessBinary);
    } catch (const std::exception& e) {
        Line(std::string("headless: ") + e.what());
    }
}

}  // namespace corvane::rig
