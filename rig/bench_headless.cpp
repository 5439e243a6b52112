#include "rig/bench_headless.h"

#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <exception>

#include "rig/bench_figures.h"
#include "rig/loopback_host.h"
#include "rig/proc_stats.h"
#include "rig/pty_terminal.h"
#include "rig/wait.h"

namespace corvane::rig {

namespace {

void Run(const QString& binary) {
    QTemporaryDir dir;
    PtyTerminal terminal(dir.path(), 1);
    LoopbackHost host;
    if (!host.listening()) {
        Line(QStringLiteral("headless: no loopback host: %1").arg(host.errorString()));
        return;
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.start(binary,
                  {QStringLiteral("--headless"), QStringLiteral("--port"), terminal.linkPath(),
                   QStringLiteral("--host"), QStringLiteral("127.0.0.1:%1").arg(host.port()),
                   QStringLiteral("--resident-loaded")});
    if (!program.waitForStarted(5000) || !host.waitForBytes(2, 10000)) {
        Line(QStringLiteral("headless: %1 did not come up").arg(binary));
        return;
    }
    host.takeReceived();
    const qint64 pid = program.processId();

    Idle(1000);  // past start-up
    Line(QStringLiteral("headless idle CPU, both links open, no traffic: %1 % of one core over "
                        "10 s")
             .arg(IdleCpuPercent(10000, pid), 0, 'f', 2));

    constexpr int kSamples = 200;
    const Latencies l = MeasureLatencies(terminal, host, kSamples);
    Line(QStringLiteral("headless latency terminal->host: ") + LatencyText(l.toHost, kSamples));
    Line(QStringLiteral("headless latency host->terminal: ") + LatencyText(l.toTerminal, kSamples));
    Line(QStringLiteral("headless peak memory (VmHWM): %1 MiB")
             .arg(static_cast<double>(VmKiB("VmHWM", pid).value_or(0)) / 1024.0, 0, 'f', 1));

    ::kill(static_cast<pid_t>(pid), SIGTERM);
    const bool ended = RunUntil([&] { return program.state() == QProcess::NotRunning; }, 10000);
    const bool closed = host.waitForDisconnect(5000);
    Line(QStringLiteral("headless stop on SIGTERM: %1, status %2, host connection %3")
             .arg(ended ? QStringLiteral("ended") : QStringLiteral("STILL RUNNING"))
             .arg(ended ? program.exitCode() : -1)
             .arg(closed ? QStringLiteral("closed") : QStringLiteral("STILL OPEN")));
    if (!ended) {
        program.kill();
        program.waitForFinished(5000);
    }
}

}  // namespace

void BenchHeadless(const QString& corvaneBinary) {
    try {
        Run(corvaneBinary);
    } catch (const std::exception& e) {
        Line(QStringLiteral("headless: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

}  // namespace corvane::rig
