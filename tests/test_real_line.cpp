// The bridge on a line as slow as a real terminal's: the rig's terminal reads at 2400 baud and
// the program sees what the pty holds as the device's output queue. Also the two bounds of
// a slow or silent peer, and the pump asleep when nothing waits.
#include <QCheckBox>
#include <QPlainTextEdit>

#include "links/host_socket.h"
#include "links/serial_port.h"
#include "relay/bounds.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

// No 0xFF (the pair rule would change it), no 0x01 or 0x11.
QByteArray Pattern(qsizetype size, int seed) {
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        int v = static_cast<int>((i * 7 + i / 251 + seed) % 250) + 2;
        if (v == 0x11) v = 0x12;
        b[i] = static_cast<char>(v);
    }
    return b;
}

}  // namespace

class RealLine : public BridgeTest {
  protected:
    int Room() const { return LineRoom(w->Comm->Baud(), ToTerminalSlice); }
    // The most the line has held unsent, looked at every event round.
    int peakQueue = 0;
    void WatchQueue() {
        auto* look = new QTimer(w.get());
        QObject::connect(look, &QTimer::timeout, w.get(),
                         [this] { peakQueue = std::max(peakQueue, w->Comm->OutBufferCount()); });
        look->start(1);
    }
};

TEST_F(RealLine, AHostBurstAt2400BaudArrivesWholeInOrderAtTheLinesPace) {
    OpenBothByLamps();
    TerminalReadsAt(2400);
    WatchQueue();
    int wakeUps = 0;
    for (QTimer* t : {w->sTimer, w->LineRoomWake})
        QObject::connect(t, &QTimer::timeout, w.get(), [&wakeUps] { ++wakeUps; });
    terminal->takeReceived();
    terminal->clearArrivals();
    // About 25 s of line time: long enough that an unpaced pump would have handed it all
    // over within the first second.
    const QByteArray burst = Pattern(6 * 1024, 1);
    host->send(burst);
    ASSERT_TRUE(terminal->waitForBytes(static_cast<int>(burst.size()), 60000));
    EXPECT_EQ(terminal->takeReceived(), burst);

    // Never more than the bound on the line; the rest waited in the pump's buffer.
    EXPECT_LE(peakQueue, Room());
    const auto& a = terminal->arrivals();
    const double seconds = static_cast<double>(a.back().first - a.front().first) / 1000.0;
    EXPECT_GE(seconds, 0.8 * static_cast<double>(burst.size()) / 240.0);
    RecordProperty("seconds_for_6KiB_at_2400", QString::number(seconds).toStdString());
    // While the line is full the pump sleeps until it has room, rather than look every
    // millisecond (which would be some 25,000 ticks here).
    EXPECT_LT(wakeUps, burst.size() / 4);
    RecordProperty("pump_wake_ups", wakeUps);
}

TEST_F(RealLine, AFlushKeyAt2400BaudStopsTheScreenWithinTheBound) {
    OpenBothByLamps();
    TerminalReadsAt(2400);
    terminal->takeReceived();
    host->send(Pattern(20 * 1024, 2));
    ASSERT_TRUE(terminal->waitForBytes(200, 10000));
    clock += 5;  // the terminal has been silent: its next key is looked at
    terminal->send(Bytes({0x11}));
    const int before = terminal->receivedCount();
    rig::RunFor(3000);
    const int after = terminal->receivedCount() - before;
    RecordProperty("bytes_after_flush_key", after);
    // What was on the line, one more slice, and the character being sent as the key came.
    EXPECT_LE(after, Room() + ToTerminalSlice + 2);
    EXPECT_TRUE(w->sToTerminal.isEmpty());
    EXPECT_EQ(w->Comm->OutBufferCount(), 0);

    // The host's later output flows again.
    terminal->takeReceived();
    host->send("ok");
    ASSERT_TRUE(terminal->waitForBytes(2, 5000));
    EXPECT_EQ(terminal->takeReceived(), "ok");
}

TEST_F(RealLine, AHostFasterThanTheTerminalIsHeldBackNotDropped) {
    OpenBothByLamps();
    PausePump();  // the terminal takes nothing while the host sends
    qsizetype peak = 0;
    QObject::connect(w->SSL, &HostSocket::DataIn, w.get(),
                     [&] { peak = std::max(peak, w->sToTerminal.size()); });
    const QByteArray burst = Pattern(1 << 20, 3);
    host->send(burst);
    ASSERT_TRUE(rig::RunUntil([&] { return !w->SSL->AcceptData(); }, 10000));
    rig::RunFor(200);
    EXPECT_LE(peak, kToTerminalHigh + 64 * 1024);
    EXPECT_FALSE(w->SSL->AcceptData());

    // Taken again below half, and every byte arrives in order.
    QByteArray got;
    ASSERT_TRUE(rig::RunUntil(
        [&] {
            Tick(200);
            got += terminal->takeReceived();
            return got.size() >= burst.size();
        },
        60000));
    EXPECT_TRUE(got == burst) << got.size() << " of " << burst.size();
    EXPECT_LE(peak, kToTerminalHigh + 64 * 1024);
}

TEST_F(RealLine, AHostThatNeverReadsKeepsMemoryBoundedAndTheDropIsLoggedOnce) {
    w->x_log->setChecked(true);
    OpenBothByLamps();
    host->setReading(false);
    QByteArray typed;
    qint64 heldPeak = 0, pendingPeak = 0;
    // Type until the bridge drops: first the system's buffers fill, then the socket's, then
    // what the bridge holds.
    for (int i = 0; i < 64 && w->nHostDropped < (1 << 20); ++i) {
        const QByteArray piece = Pattern(128 * 1024, i);
        terminal->send(piece);
        typed += piece;
        rig::RunFor(5);
        heldPeak = std::max<qint64>(heldPeak, w->sToHost.size());
        pendingPeak = std::max(pendingPeak, w->SSL->BytesToWrite());
    }
    ASSERT_GT(w->nHostDropped, 0);
    EXPECT_LE(heldPeak, kToHostHeld + 128 * 1024);
    EXPECT_LE(pendingPeak, kHostPendingMax + kToHostHeld + 128 * 1024);
    EXPECT_EQ(w->t_CommLog->toPlainText().count("host not reading"), 0);  // still going on

    // The host reads again: the episode ends with one line, and what it got is what was
    // typed with one gap of exactly the bytes the line names.
    const qint64 dropped = w->nHostDropped;
    host->setReading(true);
    ASSERT_TRUE(host->waitForBytes(static_cast<int>(typed.size() - dropped), 30000));
    rig::RunFor(100);
    const QString log = w->t_CommLog->toPlainText();
    EXPECT_EQ(log.count("host not reading"), 1) << log.toStdString();
    EXPECT_TRUE(log.contains(QString("host not reading: %1 bytes dropped").arg(dropped)));
    const QByteArray got = host->received();
    ASSERT_EQ(got.size(), typed.size() - dropped);
    qsizetype same = 0;
    while (same < got.size() && got[same] == typed[same]) ++same;
    EXPECT_TRUE(got.mid(same) == typed.mid(same + dropped)) << "more than one gap";
}

TEST_F(RealLine, ThePumpSleepsWhenNothingWaitsAndWakesForEitherSide) {
    OpenBothByLamps();
    ASSERT_TRUE(rig::RunUntil([&] { return !w->sTimer->isActive(); }, 5000));
    rig::RunFor(100);
    EXPECT_FALSE(w->sTimer->isActive());

    host->takeReceived();
    terminal->send("k");
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), "k");
    ASSERT_TRUE(rig::RunUntil([&] { return !w->sTimer->isActive(); }, 5000));

    terminal->takeReceived();
    host->send("h");
    ASSERT_TRUE(terminal->waitForBytes(1, 5000));
    EXPECT_EQ(terminal->takeReceived(), "h");
    ASSERT_TRUE(rig::RunUntil([&] { return !w->sTimer->isActive(); }, 5000));

    // A key typed while it sleeps is still looked at: the first key sets the login mode.
    CloseTerminalPort(*w);
    OpenTerminalPort(*w);
    ASSERT_TRUE(rig::RunUntil([&] { return !w->sTimer->isActive(); }, 5000));
    clock += 5;
    terminal->send(Bytes({0x0D}));
    ASSERT_TRUE(rig::RunUntil([&] { return w->l_loginMode->text() == "next"; }, 5000));
    EXPECT_EQ(w->l_milestone->text(), "C");
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), "\r");
}
