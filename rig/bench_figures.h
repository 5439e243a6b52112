// What the benchmarks share: printing a figure, idling without spinning, percentiles, and the
// single-byte latency of a bridge between the rig's terminal and host.
#pragma once

#include <QString>
#include <vector>

namespace corvane::rig {

class LoopbackHost;
class PtyTerminal;

void Line(const QString& text);
QString Verdict(bool met);

// Runs the event loop for ms without spinning (RunFor polls, which would count as CPU).
void Idle(int ms);

double Percentile(std::vector<double> v, double p);

// Percent of one core that process pid (0: this one) used while this one idled for ms.
double IdleCpuPercent(int ms, qint64 pid = 0);

// Milliseconds from a byte's send to its arrival, one byte at a time each way.
struct Latencies {
    std::vector<double> toHost, toTerminal;
};
Latencies MeasureLatencies(PtyTerminal& terminal, LoopbackHost& host, int samples);
// "median M ms, p99 P ms over N of S bytes"
QString LatencyText(const std::vector<double>& v, int samples);

}  // namespace corvane::rig
