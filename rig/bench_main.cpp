// corvane-bench: latency, throughput, idle CPU, memory and resident load figures of the bridge
// on the loopback rig. It reports; it does not judge beyond printing each target beside its
// figure.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "app/up_down.h"
#include "rig/proc_stats.h"
#include "rig/sample_load_file.h"
#include "rig/wait.h"
#include "rig/window_bridge.h"

using namespace corvane;
using namespace corvane::rig;

namespace {

void Line(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// Runs the event loop for ms without spinning (RunFor polls, which would count as CPU).
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

QString Verdict(bool met) { return met ? QStringLiteral("met") : QStringLiteral("NOT met"); }

void Latencies(WindowBridge& b) {
    constexpr int kSamples = 200;
    std::vector<double> toHost, toTerminal;
    QElapsedTimer clock;
    for (int i = 0; i < kSamples; ++i) {
        const QByteArray byte(1, static_cast<char>('a' + i % 26));
        const qsizetype before = b.host().received().size();
        clock.start();
        b.terminal().send(byte);
        if (!RunUntil([&] { return b.host().received().size() > before; }, 2000)) continue;
        toHost.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    b.host().takeReceived();
    for (int i = 0; i < kSamples; ++i) {
        const QByteArray byte(1, static_cast<char>('A' + i % 26));
        b.terminal().takeReceived();
        clock.start();
        b.host().send(byte);
        if (!b.terminal().waitForBytes(1, 2000)) continue;
        toTerminal.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    for (const auto& [name, v] :
         {std::pair{"terminal->host", toHost}, std::pair{"host->terminal", toTerminal}}) {
        const double p99 = Percentile(v, 0.99);
        Line(QStringLiteral(
                 "latency %1: median %2 ms, p99 %3 ms over %4 of %5 bytes (target p99 < 3 ms: %6)")
                 .arg(QLatin1String(name))
                 .arg(Percentile(v, 0.5), 0, 'f', 3)
                 .arg(p99, 0, 'f', 3)
                 .arg(v.size())
                 .arg(kSamples)
                 .arg(Verdict(v.size() == kSamples && p99 < 3.0)));
    }
}

void Throughput(WindowBridge& b) {
    constexpr int kBytes = 64 * 1024;
    const QByteArray data = SampleLoadBytes(kBytes);  // no 0xFF: the host path passes it as is
    b.terminal().takeReceived();
    QElapsedTimer clock;
    clock.start();
    b.host().send(data);
    const bool all = b.terminal().waitForBytes(kBytes, 60000);
    const double secs = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const QByteArray got = b.terminal().takeReceived();
    b.terminal().clearArrivals();
    Line(QStringLiteral("throughput host->terminal: %1 bytes/s over %2 bytes in %3 s, %4 (ceiling "
                        "25000 bytes/s at 25 a 1 ms tick)")
             .arg(static_cast<double>(got.size()) / secs, 0, 'f', 0)
             .arg(kBytes)
             .arg(secs, 0, 'f', 3)
             .arg(all && got == data ? QStringLiteral("all bytes intact")
                                     : QStringLiteral("BYTES LOST OR CHANGED")));
}

void InProcessIdle(const QString& what) {
    const double cpu0 = CpuSeconds().value_or(0);
    QElapsedTimer wall;
    wall.start();
    Idle(5000);
    const double cpu = CpuSeconds().value_or(0) - cpu0;
    const double pct = 100.0 * cpu / (static_cast<double>(wall.elapsed()) / 1000.0);
    Line(QStringLiteral("idle CPU in process, %1: %2 % of one core over 5 s (target < 3 %: %3)")
             .arg(what)
             .arg(pct, 0, 'f', 2)
             .arg(Verdict(pct < 3.0)));
}

void ProgramIdle() {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(CORVANE_BINARY), {});
    if (!program.waitForStarted(5000)) {
        Line(QStringLiteral("idle CPU of corvane: could not start %1")
                 .arg(QStringLiteral(CORVANE_BINARY)));
        return;
    }
    const qint64 pid = program.processId();
    Idle(1000);  // past start-up
    const double cpu0 = CpuSeconds(pid).value_or(0);
    QElapsedTimer wall;
    wall.start();
    Idle(5000);
    const double cpu = CpuSeconds(pid).value_or(0) - cpu0;
    const double pct = 100.0 * cpu / (static_cast<double>(wall.elapsed()) / 1000.0);
    const qint64 hwm = VmKiB("VmHWM", pid).value_or(0);
    Line(QStringLiteral("idle CPU of corvane (offscreen, nothing open): %1 % of one core over 5 s "
                        "(target < 3 %: %2)")
             .arg(pct, 0, 'f', 2)
             .arg(Verdict(pct < 3.0)));
    Line(QStringLiteral("peak memory of corvane (VmHWM, idle): %1 MiB (target < 60 MiB: %2)")
             .arg(static_cast<double>(hwm) / 1024.0, 0, 'f', 1)
             .arg(Verdict(hwm > 0 && hwm < 60 * 1024)));
    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(5000);
    }
}

void ResidentLoad(WindowBridge& b, int delayMs) {
    constexpr int kBytes = 16 * 1024;
    constexpr int kTrailer = 255;
    constexpr int kSettleMs = 250;  // the loader's pause after switching the line settings
    QString why;
    if (!WriteSampleLoadFile(b.programDir(), 5, kBytes, nullptr, &why)) {
        Line(QStringLiteral("resident load: %1").arg(why));
        return;
    }
    b.window().ud_blockdelay->setValue(delayMs);
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    qint64 sentAt = -1;
    b.startWithRequest(5, &sentAt);
    b.terminal().waitForBytes(kBytes + kTrailer, 10000);
    b.terminal().takeReceived();
    const auto& arrivals = b.terminal().arrivals();
    QByteArray got;
    for (const auto& a : arrivals) got.append(a.second);
    const bool intact =
        got.size() >= kBytes + kTrailer && got.left(kBytes) == SampleLoadBytes(kBytes);
    const qint64 totalMs = arrivals.empty() || sentAt < 0 ? -1 : arrivals.back().first - sentAt;
    const int chunks = kBytes / 256;
    const double overhead =
        static_cast<double>(totalMs - kSettleMs - static_cast<qint64>(chunks) * delayMs) /
        (kBytes + kTrailer);
    Line(QStringLiteral("resident load of %1 bytes, chunk delay %2 ms: %3 ms in all (%4 chunk "
                        "pauses, %5 ms settle); "
                        "overhead %6 ms/byte (target < 0.1 ms/byte: %7)%8")
             .arg(kBytes)
             .arg(delayMs)
             .arg(totalMs)
             .arg(chunks)
             .arg(kSettleMs)
             .arg(overhead, 0, 'f', 4)
             .arg(Verdict(intact && overhead < 0.1))
             .arg(intact ? QString() : QStringLiteral(", BYTES LOST OR CHANGED")));
    b.terminal().clearArrivals();
    b.stop();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    loadavg.open(QIODevice::ReadOnly);
    Line(QStringLiteral("corvane-bench on %1 cores, load average %2")
             .arg(QThread::idealThreadCount())
             .arg(QString::fromLatin1(loadavg.readAll().trimmed())));
    try {
        WindowBridge b;
        InProcessIdle(QStringLiteral("window, nothing open"));
        QString why;
        if (!b.startLoaded(&why)) {
            Line(why);
            return 1;
        }
        InProcessIdle(QStringLiteral("both links open, no traffic"));
        Latencies(b);
        Throughput(b);
        b.stop();
        ResidentLoad(b, 0);
        ResidentLoad(b, 385);
        Line(QStringLiteral("peak memory of this process (VmHWM, after all the above): %1 MiB")
                 .arg(static_cast<double>(VmKiB("VmHWM").value_or(0)) / 1024.0, 0, 'f', 1));
    } catch (const std::exception& e) {
        Line(QStringLiteral("corvane-bench: %1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
    ProgramIdle();
    return 0;
}
