// corvane-soak: random traffic both ways through a window on the rig, first at the line rate
// of 2400 baud, then at full pty speed; reports bytes each way, bytes lost or changed, memory
// and CPU.
//
// Excluded from the data, because the bridge treats them on purpose:
// - terminal to host: 0x01 and 0x11, which after a quiet second make the pump discard the
//   host output still pending for the terminal;
// - host to terminal: 0xFF, of which the host path halves pairs and drops lone ones.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "rig/proc_stats.h"
#include "rig/wait.h"
#include "rig/window_bridge.h"

using namespace corvane;
using namespace corvane::rig;

namespace {

void Line(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// One direction: what was sent and not yet seen on the other side, compared as it arrives.
struct Stream {
    QByteArray pending;
    qint64 sent = 0;
    qint64 received = 0;
    qint64 changed = 0;  // arrived different from what was sent, or more than was sent

    void arrive(const QByteArray& bytes) {
        received += bytes.size();
        const qsizetype n = std::min(bytes.size(), pending.size());
        for (qsizetype i = 0; i < n; ++i)
            if (bytes[i] != pending[i]) ++changed;
        changed += bytes.size() - n;
        pending.remove(0, n);
    }
    qsizetype inFlight() const { return pending.size(); }
};

class Traffic {
  public:
    Traffic(WindowBridge& b, std::mt19937& random) : b_(b), random_(random) {}

    QByteArray make(qsizetype n, bool forTerminal) {
        QByteArray out(n, Qt::Uninitialized);
        std::uniform_int_distribution<int> byte(0, 255);
        for (qsizetype i = 0; i < n; ++i) {
            int v = byte(random_);
            while (forTerminal ? v == 0xFF : (v == 0x01 || v == 0x11)) v = byte(random_);
            out[i] = static_cast<char>(v);
        }
        return out;
    }

    void sendFromTerminal(qsizetype n) {
        if (n <= 0) return;
        const QByteArray bytes = make(n, false);
        toHost.pending += bytes;
        toHost.sent += n;
        b_.terminal().send(bytes);
    }
    void sendFromHost(qsizetype n) {
        if (n <= 0) return;
        const QByteArray bytes = make(n, true);
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
    WindowBridge& b_;
    std::mt19937& random_;
};

QString Mib(qint64 kib) { return QString::number(static_cast<double>(kib) / 1024.0, 'f', 1); }

QString Memory() {
    return QStringLiteral("VmRSS %1 MiB, VmHWM %2 MiB")
        .arg(Mib(VmKiB("VmRSS").value_or(0)), Mib(VmKiB("VmHWM").value_or(0)));
}

// bytesPerSecond 0: as fast as the bridge takes it, with a bounded amount in flight.
bool Phase(WindowBridge& b, std::mt19937& random, const QString& name, int bytesPerSecond,
           qint64 ms) {
    // Towards the terminal the pump moves 25 bytes a tick: more in flight would only queue.
    constexpr qsizetype kWindowToTerminal = 4096;
    constexpr qsizetype kWindowToHost = 32768;

    Traffic t(b, random);
    Line(QStringLiteral("%1: start, %2").arg(name, Memory()));
    const double cpu0 = CpuSeconds().value_or(0);
    QElapsedTimer clock;
    clock.start();
    qint64 nextReport = 60000;

    QEventLoop loop;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, &loop, [&] {
        t.collect();
        const qint64 now = clock.elapsed();
        if (now >= ms) {
            loop.quit();
            return;
        }
        if (bytesPerSecond > 0) {
            const qint64 due = static_cast<qint64>(bytesPerSecond) * now / 1000;
            t.sendFromTerminal(due - t.toHost.sent);
            t.sendFromHost(due - t.toTerminal.sent);
        } else {
            t.sendFromTerminal(kWindowToHost - t.toHost.inFlight());
            t.sendFromHost(kWindowToTerminal - t.toTerminal.inFlight());
        }
        if (now >= nextReport) {
            Line(QStringLiteral(
                     "%1: minute %2, terminal->host %3 bytes, host->terminal %4 bytes, %5")
                     .arg(name)
                     .arg(nextReport / 60000)
                     .arg(t.toHost.received)
                     .arg(t.toTerminal.received)
                     .arg(Memory()));
            nextReport += 60000;
        }
    });
    turn.start(bytesPerSecond > 0 ? 20 : 5);
    loop.exec();
    turn.stop();

    // What is still on its way gets a bounded time to arrive.
    RunUntil(
        [&] {
            t.collect();
            return t.toHost.inFlight() == 0 && t.toTerminal.inFlight() == 0;
        },
        15000);
    const double secs = static_cast<double>(clock.elapsed()) / 1000.0;
    const double cpu = CpuSeconds().value_or(0) - cpu0;
    const qint64 lost = t.toHost.inFlight() + t.toTerminal.inFlight();
    const qint64 changed = t.toHost.changed + t.toTerminal.changed;
    Line(QStringLiteral("%1: terminal->host %2 of %3 bytes, host->terminal %4 of %5 bytes; "
                        "lost %6, changed %7 (must be 0: %8)")
             .arg(name)
             .arg(t.toHost.received)
             .arg(t.toHost.sent)
             .arg(t.toTerminal.received)
             .arg(t.toTerminal.sent)
             .arg(lost)
             .arg(changed)
             .arg(lost == 0 && changed == 0 ? QStringLiteral("ok") : QStringLiteral("FAILED")));
    Line(QStringLiteral("%1: end, %2; CPU %3 s in %4 s (%5 % of one core)")
             .arg(name, Memory())
             .arg(cpu, 0, 'f', 2)
             .arg(secs, 0, 'f', 1)
             .arg(100.0 * cpu / secs, 0, 'f', 1));
    return lost == 0 && changed == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Random traffic both ways through the bridge on the loopback rig: MINUTES at the line\n"
        "rate of 2400 baud (240 bytes/s each way), then MINUTES at full pty speed.\n"
        "Terminal data holds no 0x01 or 0x11 (they discard pending host output); host data no\n"
        "0xFF (the host path halves pairs of it)."));
    p.addHelpOption();
    p.addPositionalArgument(QStringLiteral("minutes"),
                            QStringLiteral("Minutes per phase (default 10)."));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Random seed (default 2400)."),
                                     QStringLiteral("N"), QStringLiteral("2400"));
    p.addOption(seedOpt);
    p.process(app);

    bool ok = true;
    const double minutes = p.positionalArguments().value(0, QStringLiteral("10")).toDouble(&ok);
    if (!ok || minutes <= 0 || minutes > 24 * 60) {
        Line(QStringLiteral("corvane-soak: minutes must be a number above 0 and up to 1440"));
        return 2;
    }
    const auto seed = p.value(seedOpt).toUInt();
    std::mt19937 random(seed);
    const auto ms = static_cast<qint64>(minutes * 60000.0);
    Line(QStringLiteral("corvane-soak: %1 minutes a phase, seed %2").arg(minutes).arg(seed));
    try {
        WindowBridge b;
        QString why;
        if (!b.startLoaded(&why)) {
            Line(why);
            return 1;
        }
        bool clean = Phase(b, random, QStringLiteral("2400 baud"), 240, ms);
        clean = Phase(b, random, QStringLiteral("full speed"), 0, ms) && clean;
        b.stop();
        return clean ? 0 : 1;
    } catch (const std::exception& e) {
        Line(QStringLiteral("corvane-soak: %1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
}
