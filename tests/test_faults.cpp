// Faults on the real rig: resets, stalls and hang-ups of either link in the middle of traffic,
// a log folder that cannot be written, floods, and the window closed inside every wait. Each
// test checks that the window still answers and that no byte is lost or changed except where
// the bridge drops data on purpose.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <vector>

#include "links/bridge.h"
#include "links/host_socket.h"
#include "relay/bounds.h"
#include "relay/host_data.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

// Host to terminal: no 0xFF, so the pair rule leaves it as it is.
QByteArray HostPattern(qsizetype size) {
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) b[i] = static_cast<char>((i * 31 + i / 256) % 255);
    return b;
}

// Terminal to host: every byte value.
QByteArray TerminalPattern(qsizetype size) {
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) b[i] = static_cast<char>((i * 17 + i / 256) & 0xFF);
    return b;
}

}  // namespace

class Faults : public BridgeTest {
  protected:
    // The window answers: a timer posted now fires within the bound.
    bool Answers(int boundMs = 5000) {
        bool fired = false;
        QTimer::singleShot(0, w.get(), [&fired] { fired = true; });
        return rig::RunUntil([&fired] { return fired; }, boundMs);
    }

    // Ticks the pump by hand between short event rounds until the terminal holds n bytes, so a
    // large burst need not take its 25-a-millisecond time; the order is the pump's own.
    bool DrainToTerminal(qsizetype n, int timeoutMs) {
        const QDeadlineTimer deadline(timeoutMs);
        while (terminal->receivedCount() < n && !deadline.hasExpired()) {
            Tick(100);
            rig::RunFor(1);
        }
        return terminal->receivedCount() >= n;
    }

    // Counts what the host socket delivers, before any cleaning.
    void CountHostData() {
        QObject::connect(w->SSL, &HostSocket::DataIn, w.get(),
                         [this](const QByteArray& text, bool) { fromHost += text.size(); });
    }

    int CommLogCount(const QString& part) const { return w->t_CommLog->toPlainText().count(part); }

    qsizetype fromHost = 0;
};

TEST_F(Faults, APortWhoseDeviceIsGoneCannotBeOpenedAndNothingElseIsOpenedInstead) {
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_TRUE(IsTerminalPortOpen(*w));
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_FALSE(IsTerminalPortOpen(*w));

    // The adapter is pulled: the link stays, its device is gone.
    const QString link = terminal->linkPath();
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(dir.filePath("gone/ttyUSB0"), link));
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    EXPECT_EQ(messages, QStringList{"Can't open com1:2400,e,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_TRUE(Answers());

    // A link removed altogether leaves the port to /dev/ttyS(N-1); with none there, the same.
    messages.clear();
    {
        rig::PtyTerminal far(dir.path(), 77);
        w->c_ports->setEditText("com77:2400,e,7,1");
        OpenTerminalPort(*w);
        ASSERT_TRUE(IsTerminalPortOpen(*w));
        CloseTerminalPort(*w);
    }
    if (QFileInfo::exists("/dev/ttyS76")) GTEST_SKIP() << "this machine has /dev/ttyS76";
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    EXPECT_EQ(messages, QStringList{"Can't open com77:2400,e,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_TRUE(Answers());
}

TEST_F(Faults, AHostResetInTheMiddleOfABurstDeliversWhatCameAndNothingAfter) {
    w->x_log->setChecked(true);
    OpenBothByLamps();
    CountHostData();
    const QByteArray burst = HostPattern(1 << 20);
    // The host writes its burst piece by piece while the bridge relays, and resets the link
    // halfway; what it handed to the system before the reset may still be on its way.
    qsizetype sent = 0;
    QTimer pacer;
    QObject::connect(&pacer, &QTimer::timeout, [&] {
        if (sent == burst.size() / 2) {
            pacer.stop();
            host->resetConnection();
            return;
        }
        host->send(burst.mid(sent, 4096));
        sent += 4096;
    });
    pacer.start(0);
    // Held back by a terminal that takes 25 a tick, the bridge sees the reset only once it
    // has taken what came before it, and what it held then is still delivered: tick fast
    // until all of it is through.
    ASSERT_TRUE(rig::RunUntil(
        [this] {
            Tick(100);
            return !IsHostConnected(*w) && w->SSL->AcceptData() && w->sToTerminal.isEmpty();
        },
        30000));
    EXPECT_TRUE(Answers());
    const qsizetype came = fromHost;
    RecordProperty("bytes_before_reset", static_cast<int>(came));
    ASSERT_GT(came, 0);
    ASSERT_LE(came, sent);

    ASSERT_TRUE(DrainToTerminal(came, 60000));
    rig::RunFor(200);
    Tick(100);
    const QByteArray got = terminal->readFor(100);
    EXPECT_EQ(fromHost, came);
    ASSERT_EQ(got.size(), came);
    EXPECT_TRUE(got == burst.left(came)) << "the bytes before the reset changed";
    EXPECT_TRUE(w->sToTerminal.isEmpty());

    // The operator sees the reason in the log; the lamp keeps the colour of the last command.
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_EQ(CommLogCount(QString("Disconnected from 127.0.0.1 port %1: ").arg(host->port())), 1)
        << w->t_CommLog->toPlainText().toStdString();
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampUp);
    EXPECT_TRUE(IsTerminalPortOpen(*w));
}

TEST_F(Faults, AHostThatStopsReadingBlocksNothingAndGetsEverythingLater) {
    OpenBothByLamps();
    host->setReading(false);
    const QByteArray typed = TerminalPattern(2 << 20);
    constexpr qsizetype kPiece = 64 * 1024;
    for (qsizetype at = 0; at < typed.size(); at += kPiece) {
        terminal->send(typed.mid(at, kPiece));
        ASSERT_TRUE(Answers(2000)) << "after " << at << " bytes";
    }
    ASSERT_TRUE(rig::RunUntil([this] { return w->sToHost.isEmpty(); }, 5000));
    EXPECT_TRUE(host->received().isEmpty());
    EXPECT_TRUE(IsHostConnected(*w));

    host->setReading(true);
    ASSERT_TRUE(host->waitForBytes(static_cast<int>(typed.size()), 30000))
        << host->received().size() << " of " << typed.size();
    rig::RunFor(100);
    EXPECT_EQ(host->received().size(), typed.size());
    EXPECT_TRUE(host->received() == typed) << "the typed bytes changed on the way";
}

// After the host closes, the SSL lamp stays green and a double-click on it runs CloseHost, which
// does nothing on a link that is down: the operator reconnects with the stop button and the
// start button (with "Resident is loaded" ticked the start connects at once).
TEST_F(Faults, AfterTheHostClosesAnOpenReconnectsAndDataFlowsAgain) {
    w->x_log->setChecked(true);
    w->chkIsResidentLoaded->setChecked(true);
    w->b_start->click();
    ASSERT_TRUE(IsHostConnected(*w));
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    host->takeReceived();

    host->closeConnection();
    ASSERT_TRUE(rig::RunUntil([this] { return !IsHostConnected(*w); }, 5000));
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampUp);
    EXPECT_EQ(CommLogCount("Disconnected from"), 1);
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    EXPECT_EQ(host->connectionCount(), 1);

    // The lamp's own open, called directly: a new connection that carries both ways.
    OpenHost(*w);
    ASSERT_TRUE(IsHostConnected(*w));
    EXPECT_EQ(host->connectionCount(), 2);
    EXPECT_EQ(w->l_milestone->text(), "D");
    const QByteArray typed = TerminalPattern(3000);
    terminal->send(typed);
    // The login key of the start goes first.
    ASSERT_TRUE(host->waitForBytes(static_cast<int>(typed.size()) + 1, 5000));
    EXPECT_EQ(host->takeReceived(), "\r" + typed);
    host->send(HostPattern(3000));
    ASSERT_TRUE(terminal->waitForBytes(3000, 10000));
    EXPECT_EQ(terminal->takeReceived(), HostPattern(3000));

    // The operator's way: stop, then start.
    host->closeConnection();
    ASSERT_TRUE(rig::RunUntil([this] { return !IsHostConnected(*w); }, 5000));
    w->b_stop->click();
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    w->b_start->click();
    ASSERT_TRUE(IsHostConnected(*w));
    EXPECT_EQ(host->connectionCount(), 3);
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampUp);
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "\r\r");
    terminal->send("go");
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "go");
}

TEST_F(Faults, ATerminalHangUpUnderTrafficBothWaysKeepsWhatPassedInOrder) {
    w->x_log->setChecked(true);
    OpenBothByLamps();
    const QByteArray down = HostPattern(256 * 1024);
    const QByteArray up = TerminalPattern(256 * 1024);
    host->send(down);
    // The first read is inspected: without a flush key in it, so the host's output is not
    // discarded on the way (the later reads come within the same second).
    terminal->send("x");
    rig::RunFor(5);
    QByteArray got;
    constexpr qsizetype kPiece = 16 * 1024;
    for (qsizetype at = 0; at < up.size() / 2; at += kPiece) {
        terminal->send(up.mid(at, kPiece));
        rig::RunFor(5);
    }
    got += terminal->takeReceived();
    terminal->hangUp();
    got += terminal->takeReceived();

    ASSERT_TRUE(rig::RunUntil([this] { return LinkLampColor(*w, "RS232") == LampDown; }, 5000));
    EXPECT_TRUE(Answers());
    rig::RunFor(300);
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_EQ(CommLogCount("lost"), 1);
    EXPECT_TRUE(got == down.left(got.size())) << "the terminal got changed bytes";
    const QByteArray atHost = host->received();
    EXPECT_LE(atHost.size(), up.size() / 2 + 1);
    const QByteArray sentUp = "x" + up;
    EXPECT_TRUE(atHost == sentUp.left(atHost.size())) << "the host got changed bytes";

    // The host link stays up; what the host sends now is dropped for the closed port.
    EXPECT_TRUE(IsHostConnected(*w));
    host->send(HostPattern(1000));
    rig::RunFor(50);
    for (int i = 0; i < 20000 && !w->sToTerminal.isEmpty(); ++i) Tick();
    EXPECT_TRUE(w->sToTerminal.isEmpty());
    EXPECT_TRUE(Answers());
}

TEST_F(Faults, AHostBurstWhileThePortIsClosedIsDroppedAtThePumpsPace) {
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(IsHostConnected(*w));
    ASSERT_TRUE(host->waitForConnection(5000));
    CountHostData();
    qsizetype peak = 0;
    bool heldBack = false;
    QObject::connect(w->SSL, &HostSocket::DataIn, w.get(), [&] {
        peak = std::max(peak, w->sToTerminal.size());
        heldBack = heldBack || !w->SSL->AcceptData();
    });
    // More than the bridge holds for the terminal: the host is held back while the pump
    // drops it, and every byte is still taken in the end.
    const QByteArray burst = HostPattern(192 * 1024);
    host->send(burst);
    ASSERT_TRUE(rig::RunUntil([&] { return fromHost == burst.size(); }, 30000));
    EXPECT_TRUE(Answers(2000));
    EXPECT_TRUE(heldBack);
    EXPECT_LE(peak, kToTerminalHigh + 64 * 1024);

    // The timer drains it, 25 a tick, with nobody to take it.
    const qsizetype before = w->sToTerminal.size();
    ASSERT_GT(before, 0);
    ASSERT_TRUE(rig::RunUntil([&] { return w->sToTerminal.size() < before; }, 5000));
    EXPECT_EQ((before - w->sToTerminal.size()) % ToTerminalSlice, 0);
    const qsizetype ticks = w->sToTerminal.size() / ToTerminalSlice + 1;
    Tick(static_cast<int>(ticks));
    EXPECT_TRUE(w->sToTerminal.isEmpty());
    EXPECT_TRUE(terminal->readFor(50).isEmpty());
    EXPECT_TRUE(IsHostConnected(*w));
}

namespace {

// What the terminal gets from host events under the pair rule: an event with a 0xFF is
// cleaned (of two 0xFF in a row one goes through, a lone one is dropped, an unpaired one at
// the end waits for the next cleaned event); an event without one passes as it is and keeps
// the waiting 0xFF.
QByteArray PairRule(const std::vector<QByteArray>& events, bool& pending) {
    QByteArray out;
    for (const QByteArray& e : events) {
        if (!e.contains('\xFF')) {
            out += e;
            continue;
        }
        for (char c : e) {
            if (c != '\xFF') {
                pending = false;
                out += c;
            } else if (pending) {
                pending = false;
                out += c;
            } else {
                pending = true;
            }
        }
    }
    return out;
}

QString Hex(const QByteArray& b) { return QString::fromLatin1(b.toHex(' ')); }

}  // namespace

TEST_F(Faults, EveryShortMixOfFFAndOneOtherByteSplitAnywhereFollowsThePairRule) {
    int cases = 0;
    for (const char other : {'\x41', '\x00', '\xFE'}) {
        for (int length = 0; length <= 8; ++length) {
            for (int mask = 0; mask < (1 << length); ++mask) {
                QByteArray text;
                for (int i = 0; i < length; ++i) text += (mask >> i & 1) ? '\xFF' : other;
                for (int cut = 0; cut <= length; ++cut) {
                    for (const bool startPending : {false, true}) {
                        const std::vector<QByteArray> events{text.left(cut), text.mid(cut)};
                        bool pending = startPending;
                        const QByteArray expected = PairRule(events, pending);
                        w->sToTerminal.clear();
                        w->bIacPending = startPending;
                        for (const QByteArray& e : events) SSL_DataIn(*w, e, false);
                        ++cases;
                        if (w->sToTerminal != expected || w->bIacPending != pending) {
                            FAIL() << Hex(text.left(cut)).toStdString() << " | "
                                   << Hex(text.mid(cut)).toStdString() << ", pending "
                                   << startPending << ": got " << Hex(w->sToTerminal).toStdString()
                                   << ", expected " << Hex(expected).toStdString();
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(cases, 3 * 2 * 4097);

    // "novanet" takes them as they come, and leaves the waiting 0xFF alone.
    w->l_host->setText("novanet");
    w->sToTerminal.clear();
    w->bIacPending = true;
    SSL_DataIn(*w, Bytes({0xFF, 0x41, 0xFF}), false);
    SSL_DataIn(*w, Bytes({0xFF, 0xFF}), false);
    EXPECT_EQ(w->sToTerminal, Bytes({0xFF, 0x41, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(w->bIacPending);
}

TEST_F(Faults, ALogFolderThatCannotBeWrittenStillFillsThePanes) {
    struct Obstacle {
        const char* what;
        std::function<bool(const QString& programDir)> make;
    };
    const std::vector<Obstacle> obstacles = {
        {"log is a file",
         [](const QString& d) {
             QFile f(d + "/log");
             return f.open(QIODevice::WriteOnly) && f.write("not a folder") == 12;
         }},
        {"log/000.txt is a folder", [](const QString& d) { return QDir(d).mkpath("log/000.txt"); }},
        // Even root cannot make files in /proc.
        {"log is /proc", [](const QString& d) { return QFile::link("/proc", d + "/log"); }},
    };
    int warnings = 0;
    static int* counter = nullptr;
    counter = &warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.contains("Cannot write the log file")) ++*counter;
        });
    for (const Obstacle& o : obstacles) {
        SCOPED_TRACE(o.what);
        QTemporaryDir programDir;
        ASSERT_TRUE(o.make(programDir.path()));
        auto window = std::make_unique<WHost>(programDir.path());
        rig::PtyTerminal line(programDir.path(), 1);
        ChooseHost(*window, "Ludric", host->port());
        window->x_log->setChecked(true);
        warnings = 0;

        QTest::mouseDClick(window->status_RS232, Qt::LeftButton);
        QTest::mouseDClick(window->status_SSL, Qt::LeftButton);
        ASSERT_TRUE(IsHostConnected(*window));
        ASSERT_TRUE(host->waitForConnection(5000));
        host->closeConnection();
        ASSERT_TRUE(rig::RunUntil([&] { return !IsHostConnected(*window); }, 5000));
        rig::RunFor(50);

        const QStringList entries =
            window->t_CommLog->toPlainText().split('\n', Qt::SkipEmptyParts);
        ASSERT_GE(entries.size(), 3);  // connecting, connected, disconnected
        EXPECT_TRUE(entries.last().contains("Disconnected from")) << entries.last().toStdString();
        EXPECT_EQ(window->t_DataLog->toPlainText().count(QString::fromUtf8("ùù")), entries.size());
        EXPECT_LE(warnings, 1);  // a log that cannot be written is reported once, not per entry
        EXPECT_FALSE(QFileInfo::exists(programDir.path() + "/log/000.txt") &&
                     QFileInfo(programDir.path() + "/log/000.txt").isFile());

        // The bridge goes on.
        OpenHost(*window);
        ASSERT_TRUE(IsHostConnected(*window));
        line.send("ok");
        ASSERT_TRUE(host->waitForBytes(2, 5000));
        EXPECT_EQ(host->takeReceived(), "ok");
        window.reset();
    }
    qInstallMessageHandler(previous);
}

TEST_F(Faults, ClosingTheWindowWhileOpenHostWaitsEndsTheWaitAndTheAttempt) {
    // A listener whose accept queue is full: the connection attempt gets no answer at all.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(s);
    }
    rig::RunFor(50);
    ChooseHost(*w, "Stalled", ntohs(address.sin_port));

    QTimer::singleShot(300, w.get(), [this] { w->CloseByOperator(); });
    QElapsedTimer took;
    took.start();
    OpenHost(*w);
    EXPECT_LT(took.elapsed(), kHostWaitMs / 2);
    EXPECT_TRUE(w->bUnloaded);
    EXPECT_FALSE(w->bOpeningHost);
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_NE(LinkLampColor(*w, "SSL"), LampUp);
    rig::RunFor(100);
    EXPECT_FALSE(IsHostConnected(*w));

    for (int s : fillers) ::close(s);
    ::close(listener);
}

TEST_F(Faults, ClosingTheWindowRightAsOpenHostStartsLeavesNoLink) {
    QTimer::singleShot(0, w.get(), [this] { w->CloseByOperator(); });
    QElapsedTimer took;
    took.start();
    OpenHost(*w);
    EXPECT_LT(took.elapsed(), kHostWaitMs / 2);
    EXPECT_TRUE(w->bUnloaded);
    EXPECT_NE(LinkLampColor(*w, "SSL"), LampUp);
    rig::RunFor(200);
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_FALSE(host->connected());
}

// A graceful close that the host never lets finish does not hold CloseHost: it returns at once
// and the close goes on in the background, until the window's close cuts it.
TEST_F(Faults, CloseHostOnAHostThatNeverReadsReturnsAndTheWindowCloseCutsTheLink) {
    OpenBothByLamps();
    host->setReading(false);
    // Far more than the system's buffers hold: the graceful close cannot finish.
    const QByteArray pending(32 << 20, 'x');
    w->SSL->Send(pending);
    rig::RunFor(100);
    // Should CloseHost wait after all, the operator's close ends the wait.
    QTimer::singleShot(300, w.get(), [this] { w->CloseByOperator(); });
    QElapsedTimer took;
    took.start();
    CloseHost(*w);
    EXPECT_LT(took.elapsed(), kHostWaitMs / 2);
    EXPECT_FALSE(IsHostConnected(*w));
    if (!w->bUnloaded) {
        EXPECT_EQ(LinkLampColor(*w, "SSL"), LampDown);
    }
    EXPECT_TRUE(Answers());

    ASSERT_TRUE(rig::RunUntil([this] { return w->bUnloaded; }, 5000));
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    // The host, reading again, gets a part of the bytes, unchanged, and then sees the link cut.
    host->setReading(true);
    EXPECT_TRUE(host->waitForDisconnect(20000));
    const QByteArray got = host->received();
    EXPECT_LT(got.size(), pending.size());
    EXPECT_EQ(got.count('x'), got.size());
}
