// corvane-bench: latency, throughput, idle CPU, memory and resident load figures of the bridge
// on the loopback rig, on a pty as fast as it goes and on a line as slow as a real terminal's;
// then the same of the headless program as a child, and the window program's own where it is
// built. It reports; it does not judge beyond printing each target beside its figure.
#include <fmt/core.h>
#include <signal.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <fstream>
#include <functional>
#include <regex>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "links/engine.h"
#include "relay/bounds.h"
#include "relay/pump.h"
#include "rig/bench_figures.h"
#include "rig/bench_headless.h"
#include "rig/child_process.h"
#include "rig/engine_bridge.h"
#include "rig/proc_stats.h"
#include "rig/sample_load_file.h"
#include "rig/wait.h"

using namespace corvane;
using namespace corvane::rig;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 200;

void BenchLatencies(EngineBridge& b) {
    const Latencies l = MeasureLatencies(b.io(), b.terminal(), b.host(), kSamples);
    for (const auto& [name, v, target] : {std::tuple{"terminal->host", l.toHost, 1.5},
                                          std::tuple{"host->terminal", l.toTerminal, 3.0}}) {
        Line(fmt::format(
            "latency {}: {} (target p99 < {} ms: {})", name, LatencyText(v, kSamples), target,
            Verdict(static_cast<int>(v.size()) == kSamples && Percentile(v, 0.99) < target)));
    }
}

// Bytes a second from the first arrival to the last, and whether they came intact.
void BenchThroughput(EngineBridge& b, int baud, int bytes, const std::string& expect) {
    b.readAtLineRate(baud);
    const Throughput t = MeasureThroughput(b.terminal(), b.host(), bytes);
    Line(
        fmt::format("throughput host->terminal, {}: {:.0f} bytes/s over {} bytes in {:.3f} s, {} "
                    "({}); CPU of the bench (bridge and terminal) {:.2f} % of one core",
                    baud ? fmt::format("terminal at {} baud", baud) : "pty at full speed",
                    t.bytesPerSecond, bytes, t.seconds,
                    t.intact ? "all bytes intact" : "BYTES LOST OR CHANGED", expect, t.cpuPercent));
    b.readAtLineRate(0);
}

// What the terminal still gets after it presses the flush key in the middle of a burst.
void BenchFlushKey(EngineBridge& b) {
    constexpr int kBurst = 8 * 1024;
    b.readAtLineRate(2400);
    b.terminal().takeReceived();
    b.host().send(SampleLoadBytes(kBurst));
    b.terminal().waitForBytes(300, 10000);
    b.terminal().send(std::string(1, '\x11'));
    const int before = b.terminal().receivedCount();
    // Until the line has been quiet for a second: all that still came after the key.
    int seen = before;
    Clock::time_point quiet = Clock::now();
    RunUntil(
        b.io(),
        [&] {
            if (b.terminal().receivedCount() != seen) {
                seen = b.terminal().receivedCount();
                quiet = Clock::now();
            }
            return ElapsedMs(quiet) > 1000;
        },
        120000);
    const int after = b.terminal().receivedCount() - before;
    Engine& e = b.engine();
    Line(
        fmt::format("flush key (0x11) after 300 bytes of an {}-byte burst at 2400 baud: {} "
                    "bytes reached the terminal after it",
                    kBurst, after));
    // Whatever is left goes out at pty speed before the next figure.
    b.readAtLineRate(0);
    RunUntil(
        b.io(), [&] { return e.sToTerminal.empty() && e.Comm.OutBufferCount() == 0; }, 600000);
    Idle(b.io(), 100);
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
}

void BenchIdle(asio::io_context& io, const std::string& what, int ms) {
    const double pct = IdleCpuPercent(io, ms);
    Line(
        fmt::format("idle CPU in process, {}: {:.2f} % of one core over {} s (target <= 0.1 %: {})",
                    what, pct, ms / 1000, Verdict(pct <= 0.1)));
}

// What the two memory figures push through the bridge, and in what pieces.
constexpr std::int64_t kTotal = 10 * 1024 * 1024;
constexpr int kPiece = 64 * 1024;

// The highest resident size while `run` goes on, sampled every 20 ms, above the size before.
double PeakGrowthMiB(asio::io_context& io, const std::function<void()>& run) {
    const std::int64_t base = VmKiB("VmRSS").value_or(0);
    std::int64_t peak = base;
    {
        Repeat look(io, 20, [&] { peak = std::max(peak, VmKiB("VmRSS").value_or(0)); });
        run();
    }
    peak = std::max(peak, VmKiB("VmRSS").value_or(0));
    return static_cast<double>(peak - base) / 1024.0;
}

// A fast host: it writes as fast as its connection takes, 10 MiB in all, to a terminal that
// reads at 2400 baud. Measured for 10 s on a fresh engine.
void BenchMemoryFastHost() {
    asio::io_context io;
    EngineBridge b(io);
    std::string why;
    if (!b.startLoaded(&why)) return Line(why);
    b.readAtLineRate(2400);
    const std::string piece = SampleLoadBytes(kPiece);
    std::int64_t pushed = 0;
    const double growth = PeakGrowthMiB(io, [&] {
        const Clock::time_point t = Clock::now();
        while (ElapsedMs(t) < 10000) {
            while (pushed < kTotal && b.host().pendingOut() < kPiece) {
                b.host().send(piece);
                pushed += kPiece;
            }
            Idle(io, 5);
        }
    });
    Engine& e = b.engine();
    Line(fmt::format(
        "memory, a host sending 10 MiB to a 2400-baud terminal: peak growth "
        "{:.1f} MiB over 10 s; the host got {} KiB out of its own buffer, the bridge "
        "holds {} KiB, the terminal read {} bytes",
        growth, (pushed - b.host().pendingOut()) / 1024,
        (static_cast<std::int64_t>(e.sToTerminal.size()) + e.Comm.OutBufferCount()) / 1024,
        b.terminal().readTotal()));
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A host that stops reading while the terminal sends 10 MiB at pty speed.
void BenchMemorySilentHost() {
    asio::io_context io;
    EngineBridge b(io);
    std::string why;
    if (!b.startLoaded(&why)) return Line(why);
    Engine& e = b.engine();
    e.SetLogToFile(true);
    b.host().setReading(false);
    const std::string piece = SampleLoadBytes(kPiece);
    std::int64_t typed = 0;
    std::string failure;
    const double growth = PeakGrowthMiB(io, [&] {
        try {
            for (; typed < kTotal; typed += kPiece) {
                b.terminal().send(piece);
                Idle(io, 1);
            }
        } catch (const std::exception& ex) {
            failure = ex.what();
        }
        Idle(io, 1000);
    });
    b.host().setReading(true);
    b.host().waitForBytes(static_cast<int>(typed), 20000);
    Idle(io, 500);
    const std::string log = e.View().commPane;
    std::smatch m;
    const bool said = std::regex_search(log, m, std::regex("host not reading: \\d+ bytes dropped"));
    Line(fmt::format(
        "memory, a host not reading while the terminal sends 10 MiB: peak growth "
        "{:.1f} MiB; the terminal got {} KiB onto the line{}; the host got {} KiB "
        "once it read again; log: {}",
        growth, typed / 1024, failure.empty() ? "" : " (then: " + failure + ")",
        b.host().received().size() / 1024,
        said ? fmt::format("\"{}\" ({} such line)", m.str(0), Count(log, "host not reading"))
             : "nothing about it"));
}

#ifdef CORVANE_BINARY
// The window program at rest, a child on the offscreen platform.
void ProgramIdle() {
    asio::io_context io;
    std::vector<std::string> env = ChildProcess::Environment({"QT_QPA_PLATFORM"});
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::unique_ptr<ChildProcess> program;
    try {
        program = std::make_unique<ChildProcess>(io, CORVANE_BINARY,
                                                 std::vector<std::string>{"--fresh"}, env);
    } catch (const std::exception&) {
        Line(fmt::format("idle CPU of corvane: could not start {}", CORVANE_BINARY));
        return;
    }
    const std::int64_t pid = program->pid();
    Idle(io, 1000);  // past start-up
    const double pct = IdleCpuPercent(io, 5000, pid);
    const std::int64_t hwm = VmKiB("VmHWM", pid).value_or(0);
    // The focused port box's text cursor blinks: two repaints a second, as on a desktop while
    // the window is active.
    Line(
        fmt::format("idle CPU of corvane (offscreen, nothing open, text cursor blinking): {:.2f} "
                    "% of one core over 5 s (target < 3 %: {})",
                    pct, Verdict(pct < 3.0)));
    Line(fmt::format("peak memory of corvane (VmHWM, idle): {:.1f} MiB (target < 60 MiB: {})",
                     static_cast<double>(hwm) / 1024.0, Verdict(hwm > 0 && hwm < 60 * 1024)));
    program->signal(SIGTERM);
    program->waitForExit(5000);  // one still running is killed as it goes
    std::fputs(program->err().c_str(), stderr);
}
#endif

void ResidentLoad(EngineBridge& b, int delayMs) {
    constexpr int kBytes = 16 * 1024;
    constexpr int kTrailer = 255;
    constexpr int kSettleMs = 250;  // the loader's pause after switching the line settings
    std::string why;
    if (!WriteSampleLoadFile(b.programDir(), 5, kBytes, nullptr, &why)) {
        Line("resident load: " + why);
        return;
    }
    b.engine().SetChunkDelay(delayMs);
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    std::int64_t sentAt = -1;
    b.startWithRequest(5, &sentAt);
    b.terminal().waitForBytes(kBytes + kTrailer, 10000);
    b.terminal().takeReceived();
    const auto& arrivals = b.terminal().arrivals();
    std::string got;
    for (const auto& a : arrivals) got.push_back(a.second);
    const bool intact = got.size() >= static_cast<std::size_t>(kBytes + kTrailer) &&
                        got.substr(0, kBytes) == SampleLoadBytes(kBytes);
    const std::int64_t totalMs =
        arrivals.empty() || sentAt < 0 ? -1 : arrivals.back().first - sentAt;
    const int chunks = kBytes / 256;
    const double overhead =
        static_cast<double>(totalMs - kSettleMs - static_cast<std::int64_t>(chunks) * delayMs) /
        (kBytes + kTrailer);
    Line(
        fmt::format("resident load of {} bytes, chunk delay {} ms: {} ms in all ({} chunk "
                    "pauses, {} ms settle); "
                    "overhead {:.4f} ms/byte (target < 0.1 ms/byte: {}){}",
                    kBytes, delayMs, totalMs, chunks, kSettleMs, overhead,
                    Verdict(intact && overhead < 0.1), intact ? "" : ", BYTES LOST OR CHANGED"));
    b.terminal().clearArrivals();
    b.stop();
}

// The load on a 2400-baud line at 2400,o,8,1 (11 bits a character): its time against the
// line's own, and how far the status line runs ahead of what the terminal has had.
void ResidentLoadOnLine(EngineBridge& b, int delayMs) {
    constexpr int kBytes = 16 * 1024;
    constexpr int kTrailer = 255;
    constexpr int kBaud = 2400;
    std::string why;
    if (!WriteSampleLoadFile(b.programDir(), 5, kBytes, nullptr, &why)) {
        Line("resident load: " + why);
        return;
    }
    Engine& e = b.engine();
    e.SetChunkDelay(delayMs);
    b.readAtLineRate(kBaud);
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    long long lead = 0;
    const std::int64_t readBefore = b.terminal().readTotal();
    std::int64_t sentAt = -1;
    {
        Repeat watch(b.io(), 1, [&] {
            if (e.bLoadingResident)
                lead =
                    std::max(lead, LoaderStatusByte(e) - (b.terminal().readTotal() - readBefore));
        });
        b.startWithRequest(5, &sentAt);
    }
    b.terminal().waitForBytes(kBytes + kTrailer, 10000);
    const auto& arrivals = b.terminal().arrivals();
    std::string got;
    for (const auto& a : arrivals) got.push_back(a.second);
    const bool intact = got == SampleLoadBytes(kBytes) + std::string("\xAF\xAF", 2) +
                                   std::string(kTrailer - 2, '\0');
    const double seconds = arrivals.empty() || sentAt < 0
                               ? -1
                               : static_cast<double>(arrivals.back().first - sentAt) / 1000.0;
    const double lineSeconds = (kBytes + kTrailer) * 11.0 / kBaud;
    const double pauseSeconds = (kBytes / 256) * delayMs / 1000.0 + 0.25;
    Line(fmt::format(
        "resident load of {} bytes at {} baud (2400,o,8,1), chunk delay {} ms: "
        "{:.1f} s from the request to the last byte; the line's own time {:.1f} s, "
        "pauses and settle {:.1f} s (sum {:.1f} s); status line ahead of the terminal "
        "by at most {} characters (bound {}){}",
        kBytes, kBaud, delayMs, seconds, lineSeconds, pauseSeconds, lineSeconds + pauseSeconds,
        lead, LineRoom(kBaud, ToTerminalSlice), intact ? "" : ", BYTES LOST OR CHANGED"));
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    b.readAtLineRate(0);
    b.stop();
}

std::string LoadAverage() {
    std::ifstream f("/proc/loadavg");
    std::string text;
    std::getline(f, text);
    return text;
}

}  // namespace

int main() {
    Line(fmt::format("corvane-bench on {} cores, load average {}",
                     std::thread::hardware_concurrency(), LoadAverage()));
    try {
        {
            asio::io_context io;
            EngineBridge b(io);
            BenchIdle(io, "engine, nothing open", 5000);
            std::string why;
            if (!b.startLoaded(&why)) {
                Line(why);
                return 1;
            }
            BenchIdle(io, "both links open, no traffic", 10000);
            BenchLatencies(b);
            BenchThroughput(b, 0, 64 * 1024, "target >= 20000 bytes/s");
            BenchThroughput(b, 2400, 2400, "the line's own pace is 240 bytes/s");
            BenchFlushKey(b);
            b.stop();
            ResidentLoad(b, 0);
            ResidentLoad(b, 385);
            ResidentLoadOnLine(b, 385);
            Line(fmt::format("peak memory of this process (VmHWM, after all the above): {:.1f} MiB",
                             static_cast<double>(VmKiB("VmHWM").value_or(0)) / 1024.0));
        }
        BenchMemoryFastHost();
        BenchMemorySilentHost();
    } catch (const std::exception& e) {
        Line(std::string("corvane-bench: ") + e.what());
        return 1;
    }
#ifdef CORVANE_BINARY
    ProgramIdle();
#endif
    BenchHeadless(CORVANE_HEADLESS_BINARY);
    return 0;
}
