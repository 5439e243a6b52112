#include "rig/bench_figures.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "rig/loopback_host.h"
#include "rig/proc_stats.h"
#include "rig/pty_terminal.h"
#include "rig/wait.h"

namespace corvane::rig {

void Line(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

QString Verdict(bool met) { return met ? QStringLiteral("met") : QStringLiteral("NOT met"); }

void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double IdleCpuPercent(int ms, qint64 pid) {
    const double cpu0 = CpuSeconds(pid).value_or(0);
    QElapsedTimer wall;
    wall.start();
    Idle(ms);
    const double cpu = CpuSeconds(pid).value_or(0) - cpu0;
    return 100.0 * cpu / (static_cast<double>(wall.elapsed()) / 1000.0);
}

Latencies MeasureLatencies(PtyTerminal& terminal, LoopbackHost& host, int samples) {
    Latencies l;
    QElapsedTimer clock;
    for (int i = 0; i < samples; ++i) {
        const qsizetype before = host.received().size();
        clock.start();
        terminal.send(QByteArray(1, static_cast<char>('a' + i % 26)));
        if (RunUntil([&] { return host.received().size() > before; }, 2000))
            l.toHost.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        Idle(3);  // a key at a time, as typed: the bridge may go idle in between
    }
    host.takeReceived();
    for (int i = 0; i < samples; ++i) {
        terminal.takeReceived();
        clock.start();
        host.send(QByteArray(1, static_cast<char>('A' + i % 26)));
        if (terminal.waitForBytes(1, 2000))
            l.toTerminal.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        Idle(3);
    }
    terminal.takeReceived();
    terminal.clearArrivals();
    return l;
}

QString LatencyText(const std::vector<double>& v, int samples) {
    return QStringLiteral("median %1 ms, p99 %2 ms over %3 of %4 bytes")
        .arg(Percentile(v, 0.5), 0, 'f', 3)
        .arg(Percentile(v, 0.99), 0, 'f', 3)
        .arg(v.size())
        .arg(samples);
}

}  // namespace corvane::rig
