// corvane-bench: latency, throughput, idle CPU, memory and resident load figures of the bridge
// on the loopback rig, on a pty as fast as it goes and on a line as slow as a real terminal's.
// It reports; it does not judge beyond printing each target beside its figure.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <stdexcept>

#include "app/up_down.h"
#include "links/serial_port.h"
#include "relay/bounds.h"
#include "relay/pump.h"
#include "rig/bench_figures.h"
#include "rig/bench_headless.h"
#include "rig/proc_stats.h"
#include "rig/sample_load_file.h"
#include "rig/wait.h"
#include "rig/window_bridge.h"

using namespace corvane;
using namespace corvane::rig;

namespace {

constexpr int kSamples = 200;

void BenchLatencies(WindowBridge& b) {
    const Latencies l = MeasureLatencies(b.terminal(), b.host(), kSamples);
    for (const auto& [name, v, target] : {std::tuple{"terminal->host", l.toHost, 1.5},
                                          std::tuple{"host->terminal", l.toTerminal, 3.0}}) {
        Line(QStringLiteral("latency %1: %2 (target p99 < %3 ms: %4)")
                 .arg(QLatin1String(name), LatencyText(v, kSamples))
                 .arg(target)
                 .arg(Verdict(static_cast<int>(v.size()) == kSamples &&
                              Percentile(v, 0.99) < target)));
    }
}

// Bytes a second from the first arrival to the last, and whether they came intact.
void BenchThroughput(WindowBridge& b, int baud, int bytes, const QString& expect) {
    const QByteArray data = SampleLoadBytes(bytes);  // no 0xFF: the host path passes it as is
    b.readAtLineRate(baud);
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    const double cpu0 = CpuSeconds().value_or(0);
    QElapsedTimer wall;
    wall.start();
    b.host().send(data);
    const bool all = b.terminal().waitForBytes(bytes, 60000 + bytes * 10);
    const double cpu =
        100.0 * (CpuSeconds().value_or(0) - cpu0) / (static_cast<double>(wall.elapsed()) / 1000.0);
    const QByteArray got = b.terminal().takeReceived();
    const auto& a = b.terminal().arrivals();
    const double secs =
        a.size() < 2 ? 0 : static_cast<double>(a.back().first - a.front().first) / 1000.0;
    Line(QStringLiteral("throughput host->terminal, %1: %2 bytes/s over %3 bytes in %4 s, %5 (%6); "
                        "CPU of the bench (bridge and terminal) %7 % of one core")
             .arg(baud ? QStringLiteral("terminal at %1 baud").arg(baud)
                       : QStringLiteral("pty at full speed"))
             .arg(secs > 0 ? static_cast<double>(got.size() - 1) / secs : 0, 0, 'f', 0)
             .arg(bytes)
             .arg(secs, 0, 'f', 3)
             .arg(all && got == data ? QStringLiteral("all bytes intact")
                                     : QStringLiteral("BYTES LOST OR CHANGED"))
             .arg(expect)
             .arg(cpu, 0, 'f', 2));
    b.terminal().clearArrivals();
    b.readAtLineRate(0);
}

// What the terminal still gets after it presses the flush key in the middle of a burst.
void BenchFlushKey(WindowBridge& b) {
    constexpr int kBurst = 8 * 1024;
    b.readAtLineRate(2400);
    b.terminal().takeReceived();
    b.host().send(SampleLoadBytes(kBurst));
    b.terminal().waitForBytes(300, 10000);
    b.terminal().send(QByteArray(1, '\x11'));
    const int before = b.terminal().receivedCount();
    // Until the line has been quiet for a second: all that still came after the key.
    int seen = before;
    QElapsedTimer quiet;
    quiet.start();
    RunUntil(
        [&] {
            if (b.terminal().receivedCount() != seen) {
                seen = b.terminal().receivedCount();
                quiet.start();
            }
            return quiet.elapsed() > 1000;
        },
        120000);
    const int after = b.terminal().receivedCount() - before;
    WHost& w = b.window();
    Line(QStringLiteral("flush key (0x11) after 300 bytes of an %1-byte burst at 2400 baud: %2 "
                        "bytes reached the terminal after it")
             .arg(kBurst)
             .arg(after));
    // Whatever is left goes out at pty speed before the next figure.
    b.readAtLineRate(0);
    RunUntil([&] { return w.sToTerminal.isEmpty() && w.Comm->OutBufferCount() == 0; }, 600000);
    Idle(100);
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
}

void BenchIdle(const QString& what, int ms) {
    const double pct = IdleCpuPercent(ms);
    Line(QStringLiteral("idle CPU in process, %1: %2 % of one core over %3 s (target <= 0.1 %: %4)")
             .arg(what)
             .arg(pct, 0, 'f', 2)
             .arg(ms / 1000)
             .arg(Verdict(pct <= 0.1)));
}

// What the two memory figures push through the bridge, and in what pieces.
constexpr qint64 kTotal = 10 * 1024 * 1024;
constexpr int kPiece = 64 * 1024;

// The highest resident size while `run` goes on, sampled every 20 ms, above the size before.
double PeakGrowthMiB(const std::function<void()>& run) {
    const qint64 base = VmKiB("VmRSS").value_or(0);
    qint64 peak = base;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout,
                     [&] { peak = std::max(peak, VmKiB("VmRSS").value_or(0)); });
    look.start(20);
    run();
    peak = std::max(peak, VmKiB("VmRSS").value_or(0));
    return static_cast<double>(peak - base) / 1024.0;
}

// A fast host: it writes as fast as its connection takes, 10 MiB in all, to a terminal that
// reads at 2400 baud. Measured for 10 s on a fresh window.
void BenchMemoryFastHost() {
    WindowBridge b;
    QString why;
    if (!b.startLoaded(&why)) return Line(why);
    b.readAtLineRate(2400);
    const QByteArray piece = SampleLoadBytes(kPiece);
    qint64 pushed = 0;
    const double growth = PeakGrowthMiB([&] {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            while (pushed < kTotal && b.host().pendingOut() < kPiece) {
                b.host().send(piece);
                pushed += kPiece;
            }
            Idle(5);
        }
    });
    WHost& w = b.window();
    Line(QStringLiteral("memory, a host sending 10 MiB to a 2400-baud terminal: peak growth "
                        "%1 MiB over 10 s; the host got %2 KiB out of its own buffer, the bridge "
                        "holds %3 KiB, the terminal read %4 bytes")
             .arg(growth, 0, 'f', 1)
             .arg((pushed - b.host().pendingOut()) / 1024)
             .arg((w.sToTerminal.size() + w.Comm->OutBufferCount()) / 1024)
             .arg(b.terminal().readTotal()));
}

// A host that stops reading while the terminal sends 10 MiB at pty speed.
void BenchMemorySilentHost() {
    WindowBridge b;
    QString why;
    if (!b.startLoaded(&why)) return Line(why);
    WHost& w = b.window();
    w.x_log->setChecked(true);
    b.host().setReading(false);
    const QByteArray piece = SampleLoadBytes(kPiece);
    qint64 typed = 0;
    QString failure;
    const double growth = PeakGrowthMiB([&] {
        try {
            for (; typed < kTotal; typed += kPiece) {
                b.terminal().send(piece);
                Idle(1);
            }
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        Idle(1000);
    });
    b.host().setReading(true);
    b.host().waitForBytes(static_cast<int>(typed), 20000);
    Idle(500);
    const QString log = w.t_CommLog->toPlainText();
    const auto m =
        QRegularExpression(QStringLiteral("host not reading: \\d+ bytes dropped")).match(log);
    Line(QStringLiteral("memory, a host not reading while the terminal sends 10 MiB: peak growth "
                        "%1 MiB; the terminal got %2 KiB onto the line%3; the host got %4 KiB "
                        "once it read again; log: %5")
             .arg(growth, 0, 'f', 1)
             .arg(typed / 1024)
             .arg(failure.isEmpty() ? QString() : QStringLiteral(" (then: %1)").arg(failure))
             .arg(b.host().received().size() / 1024)
             .arg(m.hasMatch() ? QStringLiteral("\"%1\" (%2 such line)")
                                     .arg(m.captured(0))
                                     .arg(log.count(QStringLiteral("host not reading")))
                               : QStringLiteral("nothing about it")));
}

void ProgramIdle() {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(CORVANE_BINARY), {QStringLiteral("--fresh")});
    if (!program.waitForStarted(5000)) {
        Line(QStringLiteral("idle CPU of corvane: could not start %1")
                 .arg(QStringLiteral(CORVANE_BINARY)));
        return;
    }
    const qint64 pid = program.processId();
    Idle(1000);  // past start-up
    const double pct = IdleCpuPercent(5000, pid);
    const qint64 hwm = VmKiB("VmHWM", pid).value_or(0);
    // The focused port box's text cursor blinks: two repaints a second, as on a desktop while
    // the window is active.
    Line(QStringLiteral("idle CPU of corvane (offscreen, nothing open, text cursor blinking): %1 % "
                        "of one core over 5 s (target < 3 %: %2)")
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

// The load on a 2400-baud line at 2400,o,8,1 (11 bits a character): its time against the
// line's own, and how far the status line runs ahead of what the terminal has had.
void ResidentLoadOnLine(WindowBridge& b, int delayMs) {
    constexpr int kBytes = 16 * 1024;
    constexpr int kTrailer = 255;
    constexpr int kBaud = 2400;
    QString why;
    if (!WriteSampleLoadFile(b.programDir(), 5, kBytes, nullptr, &why)) {
        Line(QStringLiteral("resident load: %1").arg(why));
        return;
    }
    WHost& w = b.window();
    w.ud_blockdelay->setValue(delayMs);
    b.readAtLineRate(kBaud);
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    long long lead = 0;
    const qint64 readBefore = b.terminal().readTotal();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (w.bLoadingResident)
            lead = std::max(lead, LoaderStatusByte(w) - (b.terminal().readTotal() - readBefore));
    });
    watch.start(1);
    qint64 sentAt = -1;
    b.startWithRequest(5, &sentAt);
    watch.stop();
    b.terminal().waitForBytes(kBytes + kTrailer, 10000);
    const auto& arrivals = b.terminal().arrivals();
    QByteArray got;
    for (const auto& a : arrivals) got.append(a.second);
    const bool intact =
        got == SampleLoadBytes(kBytes) + QByteArray("\xAF\xAF", 2) + QByteArray(kTrailer - 2, '\0');
    const double seconds =
        arrivals.empty() || sentAt < 0 ? -1 : (arrivals.back().first - sentAt) / 1000.0;
    const double lineSeconds = (kBytes + kTrailer) * 11.0 / kBaud;
    const double pauseSeconds = (kBytes / 256) * delayMs / 1000.0 + 0.25;
    Line(QStringLiteral("resident load of %1 bytes at %2 baud (2400,o,8,1), chunk delay %3 ms: "
                        "%4 s from the request to the last byte; the line's own time %5 s, "
                        "pauses and settle %6 s (sum %7 s); status line ahead of the terminal by "
                        "at most %8 characters (bound %9)%10")
             .arg(kBytes)
             .arg(kBaud)
             .arg(delayMs)
             .arg(seconds, 0, 'f', 1)
             .arg(lineSeconds, 0, 'f', 1)
             .arg(pauseSeconds, 0, 'f', 1)
             .arg(lineSeconds + pauseSeconds, 0, 'f', 1)
             .arg(lead)
             .arg(LineRoom(kBaud, ToTerminalSlice))
             .arg(intact ? QString() : QStringLiteral(", BYTES LOST OR CHANGED")));
    b.terminal().takeReceived();
    b.terminal().clearArrivals();
    b.readAtLineRate(0);
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
        {
            WindowBridge b;
            BenchIdle(QStringLiteral("window, nothing open"), 5000);
            QString why;
            if (!b.startLoaded(&why)) {
                Line(why);
                return 1;
            }
            BenchIdle(QStringLiteral("both links open, no traffic"), 10000);
            BenchLatencies(b);
            BenchThroughput(b, 0, 64 * 1024, QStringLiteral("target >= 20000 bytes/s"));
            BenchThroughput(b, 2400, 2400, QStringLiteral("the line's own pace is 240 bytes/s"));
            BenchFlushKey(b);
            b.stop();
            ResidentLoad(b, 0);
            ResidentLoad(b, 385);
            ResidentLoadOnLine(b, 385);
            Line(QStringLiteral("peak memory of this process (VmHWM, after all the above): %1 MiB")
                     .arg(static_cast<double>(VmKiB("VmHWM").value_or(0)) / 1024.0, 0, 'f', 1));
        }
        BenchMemoryFastHost();
        BenchMemorySilentHost();
    } catch (const std::exception& e) {
        Line(QStringLiteral("corvane-bench: %1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
    ProgramIdle();
    BenchHeadless(QStringLiteral(CORVANE_BINARY));
    return 0;
}
