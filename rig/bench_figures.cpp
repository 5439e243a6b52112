#include "rig/bench_figures.h"

#include <fmt/core.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/steady_timer.hpp>
#include <cstdio>

#include "rig/loopback_host.h"
#include "rig/proc_stats.h"
#include "rig/pty_terminal.h"
#include "rig/sample_load_file.h"
#include "rig/wait.h"

namespace corvane::rig {

using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

void Line(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::string Verdict(bool met) { return met ? "met" : "NOT met"; }

void Idle(asio::io_context& io, int ms) {
    // Held so that the run lasts the whole time even with nothing pending.
    auto work = asio::make_work_guard(io);
    if (io.stopped()) io.restart();
    io.run_for(std::chrono::milliseconds(ms));
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double IdleCpuPercent(asio::io_context& io, int ms, std::int64_t pid) {
    const double cpu0 = CpuSeconds(pid).value_or(0);
    const Clock::time_point wall = Clock::now();
    Idle(io, ms);
    const double cpu = CpuSeconds(pid).value_or(0) - cpu0;
    return 100.0 * cpu / SecondsSince(wall);
}

struct Repeat::State {
    explicit State(asio::io_context& io) : timer(io) {}
    asio::steady_timer timer;
    std::chrono::milliseconds every{};
    std::function<void()> look;
    bool stopped = false;
};

Repeat::Repeat(asio::io_context& io, int everyMs, std::function<void()> look)
    : state_(std::make_shared<State>(io)) {
    state_->every = std::chrono::milliseconds(everyMs);
    state_->look = std::move(look);
    Arm(state_);
}

Repeat::~Repeat() {
    state_->stopped = true;
    state_->timer.cancel();
}

void Repeat::Arm(const std::shared_ptr<State>& s) {
    s->timer.expires_after(s->every);
    s->timer.async_wait([s](std::error_code ec) {
        if (ec || s->stopped) return;
        s->look();
        if (!s->stopped) Arm(s);
    });
}

Latencies MeasureLatencies(asio::io_context& io, PtyTerminal& terminal, LoopbackHost& host,
                           int samples) {
    Latencies l;
    for (int i = 0; i < samples; ++i) {
        const std::size_t before = host.received().size();
        const Clock::time_point sent = Clock::now();
        terminal.send(std::string(1, static_cast<char>('a' + i % 26)));
        if (RunUntil(
                io, [&] { return host.received().size() > before; }, 2000))
            l.toHost.push_back(SecondsSince(sent) * 1000.0);
        Idle(io, 3);  // a key at a time, as typed: the bridge may go idle in between
    }
    host.takeReceived();
    for (int i = 0; i < samples; ++i) {
        terminal.takeReceived();
        const Clock::time_point sent = Clock::now();
        host.send(std::string(1, static_cast<char>('A' + i % 26)));
        if (terminal.waitForBytes(1, 2000)) l.toTerminal.push_back(SecondsSince(sent) * 1000.0);
        Idle(io, 3);
    }
    terminal.takeReceived();
    terminal.clearArrivals();
    return l;
}

std::string LatencyText(const std::vector<double>& v, int samples) {
    return fmt::format("median {:.3f} ms, p99 {:.3f} ms over {} of {} bytes", Percentile(v, 0.5),
                       Percentile(v, 0.99), v.size(), samples);
}

Throughput MeasureThroughput(PtyTerminal& terminal, LoopbackHost& host, int bytes,
                             std::int64_t cpuPid) {
    const std::string data = SampleLoadBytes(bytes);
    terminal.takeReceived();
    terminal.clearArrivals();
    const double cpu0 = CpuSeconds(cpuPid).value_or(0);
    const Clock::time_point wall = Clock::now();
    host.send(data);
    const bool all = terminal.waitForBytes(bytes, 60000 + bytes * 10);
    Throughput t;
    t.cpuPercent = 100.0 * (CpuSeconds(cpuPid).value_or(0) - cpu0) / SecondsSince(wall);
    const std::string got = terminal.takeReceived();
    const auto& a = terminal.arrivals();
    t.seconds = a.size() < 2 ? 0 : static_cast<double>(a.back().first - a.front().first) / 1000.0;
    t.bytesPerSecond = t.seconds > 0 ? static_cast<double>(got.size() - 1) / t.seconds : 0;
    t.intact = all && got == data;
    terminal.clearArrivals();
    return t;
}

std::int64_t ElapsedMs(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace corvane::rig
