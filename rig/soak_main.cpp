// corvane-soak: random traffic both ways through an engine on the rig, first at the line rate
// of 2400 baud, then at full pty speed; reports bytes each way, bytes lost or changed, memory
// and CPU.
//
// Excluded from the data, because the bridge treats them on purpose:
// - terminal to host: 0x01 and 0x11, which after a quiet second make the pump discard the
//   host output still pending for the terminal;
// - host to terminal: 0xFF, of which the host path halves pairs and drops lone ones.
#include <fmt/core.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "rig/bench_figures.h"
#include "rig/engine_bridge.h"
#include "rig/proc_stats.h"
#include "rig/terminal_console.h"
#include "rig/wait.h"

using namespace corvane;
using namespace corvane::rig;

namespace {

// One direction: what was sent and not yet seen on the other side, compared as it arrives.
struct Stream {
    std::string pending;
    std::int64_t sent = 0;
    std::int64_t received = 0;
    std::int64_t changed = 0;  // arrived different from what was sent, or more than was sent

    void arrive(const std::string& bytes) {
        received += static_cast<std::int64_t>(bytes.size());
        const std::size_t n = std::min(bytes.size(), pending.size());
        for (std::size_t i = 0; i < n; ++i)
            if (bytes[i] != pending[i]) ++changed;
        changed += static_cast<std::int64_t>(bytes.size() - n);
        pending.erase(0, n);
    }
    std::int64_t inFlight() const { return static_cast<std::int64_t>(pending.size()); }
};

class Traffic {
  public:
    Traffic(EngineBridge& b, std::mt19937& random) : b_(b), random_(random) {}

    std::string make(std::int64_t n, bool forTerminal) {
        std::string out(static_cast<std::size_t>(n), '\0');
        std::uniform_int_distribution<int> byte(0, 255);
        for (char& c : out) {
            int v = byte(random_);
            while (forTerminal ? v == 0xFF : (v == 0x01 || v == 0x11)) v = byte(random_);
            c = static_cast<char>(v);
        }
        return out;
    }

    void sendFromTerminal(std::int64_t n) {
        if (n <= 0) return;
        const std::string bytes = make(n, false);
        toHost.pending += bytes;
        toHost.sent += n;
        b_.terminal().send(bytes);
    }
    void sendFromHost(std::int64_t n) {
        if (n <= 0) return;
        const std::string bytes = make(n, true);
        toTerminal.pending += bytes;
        toTerminal.sent += n;
        b_.host().send(bytes);
    }
    void collect() {
        toHost.arrive(b_.host().takeReceived());
        toTerminal.arrive(b_.terminal().takeReceived());
        b_.terminal().clearArrivals();  // the per-byte record would grow for ever
    }

    Stream toHost;
    Stream toTerminal;

  private:
    EngineBridge& b_;
    std::mt19937& random_;
};

std::string Mib(std::int64_t kib) {
    return fmt::format("{:.1f}", static_cast<double>(kib) / 1024.0);
}

std::string Memory() {
    return fmt::format("VmRSS {} MiB, VmHWM {} MiB", Mib(VmKiB("VmRSS").value_or(0)),
                       Mib(VmKiB("VmHWM").value_or(0)));
}

// bytesPerSecond 0: as fast as the bridge takes it, with a bounded amount in flight.
bool Phase(EngineBridge& b, std::mt19937& random, const std::string& name, int bytesPerSecond,
           std::int64_t ms) {
    // Towards the terminal the pump moves 25 bytes a tick: more in flight would only queue.
    constexpr std::int64_t kWindowToTerminal = 4096;
    constexpr std::int64_t kWindowToHost = 32768;

    Traffic t(b, random);
    Line(fmt::format("{}: start, {}", name, Memory()));
    const double cpu0 = CpuSeconds().value_or(0);
    const auto clock = std::chrono::steady_clock::now();
    std::int64_t nextReport = 60000;

    // A turn every few milliseconds; in between the engine, the pty and the host run. The
    // sends run here, outside any handler: a full line makes them run the io_context.
    const int turnMs = bytesPerSecond > 0 ? 20 : 5;
    for (;;) {
        Idle(b.io(), turnMs);
        t.collect();
        const std::int64_t now = ElapsedMs(clock);
        if (now >= ms) break;
        if (bytesPerSecond > 0) {
            const std::int64_t due = static_cast<std::int64_t>(bytesPerSecond) * now / 1000;
            t.sendFromTerminal(due - t.toHost.sent);
            t.sendFromHost(due - t.toTerminal.sent);
        } else {
            t.sendFromTerminal(kWindowToHost - t.toHost.inFlight());
            t.sendFromHost(kWindowToTerminal - t.toTerminal.inFlight());
        }
        if (now >= nextReport) {
            Line(fmt::format("{}: minute {}, terminal->host {} bytes, host->terminal {} bytes, {}",
                             name, nextReport / 60000, t.toHost.received, t.toTerminal.received,
                             Memory()));
            nextReport += 60000;
        }
    }

    // What is still on its way gets a bounded time to arrive.
    RunUntil(
        b.io(),
        [&] {
            t.collect();
            return t.toHost.inFlight() == 0 && t.toTerminal.inFlight() == 0;
        },
        15000);
    const double secs = static_cast<double>(ElapsedMs(clock)) / 1000.0;
    const double cpu = CpuSeconds().value_or(0) - cpu0;
    const std::int64_t lost = t.toHost.inFlight() + t.toTerminal.inFlight();
    const std::int64_t changed = t.toHost.changed + t.toTerminal.changed;
    Line(
        fmt::format("{}: terminal->host {} of {} bytes, host->terminal {} of {} bytes; "
                    "lost {}, changed {} (must be 0: {})",
                    name, t.toHost.received, t.toHost.sent, t.toTerminal.received,
                    t.toTerminal.sent, lost, changed, lost == 0 && changed == 0 ? "ok" : "FAILED"));
    Line(fmt::format("{}: end, {}; CPU {:.2f} s in {:.1f} s ({:.1f} % of one core)", name, Memory(),
                     cpu, secs, 100.0 * cpu / secs));
    return lost == 0 && changed == 0;
}

const char* const kDescription =
    "Random traffic both ways through the bridge on the loopback rig: MINUTES at the line\n"
    "rate of 2400 baud (240 bytes/s each way), then MINUTES at full pty speed.\n"
    "Terminal data holds no 0x01 or 0x11 (they discard pending host output); host data no\n"
    "0xFF (the host path halves pairs of it).";

std::optional<double> Minutes(const std::string& text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<OptionSpec> options = {{"seed", "N", "Random seed (default 2400).", "2400"}};
    const ToolCommandLine p =
        ParseToolCommandLine(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!p.error.empty()) {
        Line("corvane-soak: " + p.error + " (see --help)");
        return 2;
    }
    if (p.help) {
        std::fputs(ToolHelp("corvane-soak [options] minutes", kDescription, options,
                            {{"minutes", "Minutes per phase (default 10)."}})
                       .c_str(),
                   stdout);
        return 0;
    }
    const std::optional<double> minutes =
        Minutes(p.arguments.empty() ? std::string("10") : p.arguments[0]);
    if (!minutes || *minutes <= 0 || *minutes > 24 * 60) {
        Line("corvane-soak: minutes must be a number above 0 and up to 1440");
        return 2;
    }
    std::string why;
    const std::optional<std::int64_t> seedNumber = p.number("seed", 0, 0xFFFFFFFF, &why);
    if (!seedNumber) {
        Line("corvane-soak: " + why);
        return 2;
    }
    const auto seed = static_cast<std::uint32_t>(*seedNumber);
    std::mt19937 random(seed);
    const auto ms = static_cast<std::int64_t>(*minutes * 60000.0);
    Line(fmt::format("corvane-soak: {} minutes a phase, seed {}", *minutes, seed));
    try {
        asio::io_context io;
        EngineBridge b(io);
        if (!b.startLoaded(&why)) {
            Line(why);
            return 1;
        }
        bool clean = Phase(b, random, "2400 baud", 240, ms);
        clean = Phase(b, random, "full speed", 0, ms) && clean;
        b.stop();
        return clean ? 0 : 1;
    } catch (const std::exception& e) {
        Line(std::string("corvane-soak: ") + e.what());
        return 1;
    }
}
