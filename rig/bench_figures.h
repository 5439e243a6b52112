// What the benchmarks share: printing a figure, idling without spinning, percentiles, a
// repeating look at something while a figure runs, and the single-byte latency and the
// throughput of a bridge between the rig's terminal and host.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane::rig {

class LoopbackHost;
class PtyTerminal;

void Line(const std::string& text);
std::string Verdict(bool met);

// Runs the io_context for ms without spinning (RunFor wakes every few milliseconds, which
// would count as CPU).
void Idle(asio::io_context& io, int ms);

double Percentile(std::vector<double> v, double p);

// Percent of one core that process pid (0: this one) used while this one idled for ms.
double IdleCpuPercent(asio::io_context& io, int ms, std::int64_t pid = 0);

// Calls `look` every `everyMs` on `io` while it runs, from construction to destruction.
class Repeat {
  public:
    Repeat(asio::io_context& io, int everyMs, std::function<void()> look);
    ~Repeat();
    Repeat(const Repeat&) = delete;
    Repeat& operator=(const Repeat&) = delete;

  private:
    struct State;
    static void Arm(const std::shared_ptr<State>& s);
    std::shared_ptr<State> state_;
};

// Milliseconds from a byte's send to its arrival, one byte at a time each way.
struct Latencies {
    std::vector<double> toHost, toTerminal;
};
Latencies MeasureLatencies(asio::io_context& io, PtyTerminal& terminal, LoopbackHost& host,
                           int samples);
// "median M ms, p99 P ms over N of S bytes"
std::string LatencyText(const std::vector<double>& v, int samples);

// The host sends `bytes` sample bytes (no 0xFF: the host path passes them as they are); the
// terminal reads at whatever pace it was set to.
struct Throughput {
    double bytesPerSecond = 0;  // from the first arrival to the last
    double seconds = 0;
    bool intact = false;    // all came, none lost or changed
    double cpuPercent = 0;  // of process cpuPid (0: this one) meanwhile, of one core
};
Throughput MeasureThroughput(PtyTerminal& terminal, LoopbackHost& host, int bytes,
                             std::int64_t cpuPid = 0);

// Milliseconds since `start`.
std::int64_t ElapsedMs(std::chrono::steady_clock::time_point start);

}  // namespace corvane::rig
