// The bridge on a line as slow as a real terminal's: the rig's terminal reads at 2400 baud and
// the engine sees what the pty holds as the device's output queue. Also the two bounds of
// a slow or silent peer, and the pump asleep when nothing waits.
#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#include "links/host_socket.h"
#include "links/serial_port.h"
#include "relay/bounds.h"
#include "resident/loader.h"
#include "tests/bridge_fixture.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

// No 0xFF (the pair rule would change it), no 0x01 or 0x11.
std::string Pattern(std::size_t size, int seed) {
    std::string b(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        int v = static_cast<int>((i * 7 + i / 251 + static_cast<std::size_t>(seed)) % 250) + 2;
        if (v == 0x11) v = 0x12;
        b[i] = static_cast<char>(v);
    }
    return b;
}
using Clock = std::chrono::steady_clock;

}  // namespace

class RealLine : public BridgeTest {
  protected:
    int Room() const { return LineRoom(e->Comm.Baud(), ToTerminalSlice); }

    // The pump neither ticks nor waits for line room.
    bool Asleep() const { return !e->sTimerActive && !e->LineRoomWakeActive; }

    // Runs the io_context one handler at a time until cond() holds (at most ms), calling
    // `look` after each handler and counting the pump's ticks: every tick moves nextTick on,
    // and no handler runs more than one.
    bool RunWatching(const std::function<bool()>& cond, int ms, const std::function<void()>& look,
                     int* ticks = nullptr) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
        auto work = asio::make_work_guard(io);
        while (!cond()) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline) return cond();
            const Clock::time_point beat = e->nextTick;
            if (io.stopped()) io.restart();
            io.run_one_for(std::min<Clock::duration>(std::chrono::milliseconds(5), deadline - now));
            if (ticks && e->nextTick != beat) ++*ticks;
            look();
        }
        return true;
    }

    // Closes the terminal port and opens it again as the bridge does; true once it is open.
    bool ReopenTerminalPort() {
        CloseTerminalPort(*e);
        bool opened = false;
        e->Spawn([this, &opened]() -> asio::awaitable<void> {
            co_await OpenTerminalPort(*e);
            opened = true;
        });
        return Run([&] { return opened; });
    }

    // The most the line has held unsent, looked at after every handler.
    void LookAtQueue() { peakQueue = std::max(peakQueue, e->Comm.OutBufferCount()); }
    int peakQueue = 0;
};

TEST_F(RealLine, AHostBurstAt2400BaudArrivesWholeInOrderAtTheLinesPace) {
    OpenBothByLamps();
    TerminalReadsAt(2400);
    terminal->takeReceived();
    terminal->clearArrivals();
    // About 25 s of line time: long enough that an unpaced pump would have handed it all
    // over within the first second.
    const std::string burst = Pattern(6 * 1024, 1);
    host->send(burst);
    int wakeUps = 0;
    ASSERT_TRUE(
        RunWatching([&] { return terminal->receivedCount() >= static_cast<int>(burst.size()); },
                    60000, [this] { LookAtQueue(); }, &wakeUps));
    EXPECT_EQ(terminal->takeReceived(), burst);

    // Never more than the bound on the line; the rest waited in the pump's buffer.
    EXPECT_LE(peakQueue, Room());
    const auto& a = terminal->arrivals();
    const double seconds = static_cast<double>(a.back().first - a.front().first) / 1000.0;
    EXPECT_GE(seconds, 0.8 * static_cast<double>(burst.size()) / 240.0);
    RecordProperty("seconds_for_6KiB_at_2400", std::to_string(seconds));
    // While the line is full the pump sleeps until it has room, rather than look every
    // millisecond (which would be some 25,000 ticks here).
    EXPECT_LT(wakeUps, static_cast<int>(burst.size() / 4));
    RecordProperty("pump_wake_ups", wakeUps);
}

// What the tests here rest on: the rig's stand-in for a UART's output queue counts a write at
// once (the pty's own count lags while the kernel moves it across, longer on a loaded
// machine), and after a purge or a close counts just what the pty still holds.
TEST_F(RealLine, TheRigsLineQueueIsWhatWasWrittenAndIsStillToBeRead) {
    OpenBothByLamps();
    PausePump();
    TerminalReadsAt(2400);
    terminal->takeReceived();
    e->Comm.Output(std::string(100, 'a'));
    EXPECT_EQ(e->Comm.OutBufferCount(), 100);
    Settle(200);
    const int read = terminal->receivedCount();
    EXPECT_GT(read, 0);
    EXPECT_LT(read, 100);
    EXPECT_EQ(e->Comm.OutBufferCount(), 100 - read);

    const std::string all = std::string(100, 'a') + "bcd" + std::string(50, 'e');
    e->Comm.setOutBufferCount(0);
    EXPECT_LE(e->Comm.OutBufferCount(), 100 - read);
    e->Comm.Output("bcd");
    e->Comm.Output(std::string(50, 'e'));
    ASSERT_TRUE(ReopenTerminalPort());
    e->Comm.Output("f");
    // Whatever the drops left reaches the terminal, in order, and then the queue is empty.
    ASSERT_TRUE(Run([&] { return e->Comm.OutBufferCount() == 0; }, 10000));
    Settle(100);
    const std::string got = terminal->takeReceived();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 'f');
    EXPECT_EQ(got.substr(0, got.size() - 1), all.substr(0, got.size() - 1));
    EXPECT_EQ(terminal->unread(), 0);
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
    Settle(3000);
    const int after = terminal->receivedCount() - before;
    RecordProperty("bytes_after_flush_key", after);
    // What was on the line, one more slice, and the character being sent as the key came.
    EXPECT_LE(after, Room() + ToTerminalSlice + 2);
    EXPECT_TRUE(e->sToTerminal.empty());
    EXPECT_EQ(e->Comm.OutBufferCount(), 0);

    // The host's later output flows again.
    terminal->takeReceived();
    host->send("ok");
    ASSERT_TRUE(terminal->waitForBytes(2, 5000));
    EXPECT_EQ(terminal->takeReceived(), "ok");
}

TEST_F(RealLine, AHostFasterThanTheTerminalIsHeldBackNotDropped) {
    OpenBothByLamps();
    PausePump();  // the terminal takes nothing while the host sends
    std::size_t peak = 0;
    auto engine = e->SSL.DataIn;
    e->SSL.DataIn = [&, engine](const std::string& text, bool endOfLine) {
        engine(text, endOfLine);
        peak = std::max(peak, e->sToTerminal.size());
    };
    const std::string burst = Pattern(1 << 20, 3);
    host->send(burst);
    ASSERT_TRUE(Run([&] { return !e->SSL.AcceptData(); }, 10000));
    Settle(200);
    EXPECT_LE(peak, kToTerminalHigh + 64 * 1024);
    EXPECT_FALSE(e->SSL.AcceptData());

    // Taken again below half, and every byte arrives in order.
    std::string got;
    ASSERT_TRUE(Run(
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
    e->SetLogToFile(true);
    OpenBothByLamps();
    host->setReading(false);
    std::string typed;
    std::int64_t heldPeak = 0, pendingPeak = 0;
    // Type until the bridge drops: first the system's buffers fill, then the socket's, then
    // what the bridge holds.
    for (int i = 0; i < 64 && e->nHostDropped < (1 << 20); ++i) {
        const std::string piece = Pattern(128 * 1024, i);
        terminal->send(piece);
        typed += piece;
        Settle(5);
        heldPeak = std::max<std::int64_t>(heldPeak, static_cast<std::int64_t>(e->sToHost.size()));
        pendingPeak = std::max(pendingPeak, e->SSL.BytesToWrite());
    }
    ASSERT_GT(e->nHostDropped, 0);
    EXPECT_LE(heldPeak, static_cast<std::int64_t>(kToHostHeld + 128 * 1024));
    EXPECT_LE(pendingPeak, kHostPendingMax + static_cast<std::int64_t>(kToHostHeld + 128 * 1024));
    EXPECT_EQ(CountOf(e->View().commPane, "host not reading"), 0u);  // still going on

    // The host reads again: the episode ends with one line, and what it got is what was
    // typed with one gap of exactly the bytes the line names.
    const std::int64_t dropped = e->nHostDropped;
    host->setReading(true);
    ASSERT_TRUE(host->waitForBytes(
        static_cast<int>(static_cast<std::int64_t>(typed.size()) - dropped), 30000));
    Settle(100);
    const std::string& log = e->View().commPane;
    EXPECT_EQ(CountOf(log, "host not reading"), 1u) << log;
    EXPECT_NE(log.find("host not reading: " + std::to_string(dropped) + " bytes dropped"),
              std::string::npos)
        << log;
    const std::string got = host->received();
    ASSERT_EQ(static_cast<std::int64_t>(got.size()),
              static_cast<std::int64_t>(typed.size()) - dropped);
    std::size_t same = 0;
    while (same < got.size() && got[same] == typed[same]) ++same;
    EXPECT_TRUE(got.substr(same) == typed.substr(same + static_cast<std::size_t>(dropped)))
        << "more than one gap";
}

TEST_F(RealLine, ThePumpSleepsWhenNothingWaitsAndWakesForEitherSide) {
    OpenBothByLamps();
    ASSERT_TRUE(Run([&] { return Asleep(); }));
    Settle(100);
    EXPECT_TRUE(Asleep());

    host->takeReceived();
    terminal->send("k");
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), "k");
    ASSERT_TRUE(Run([&] { return Asleep(); }));

    terminal->takeReceived();
    host->send("h");
    ASSERT_TRUE(terminal->waitForBytes(1, 5000));
    EXPECT_EQ(terminal->takeReceived(), "h");
    ASSERT_TRUE(Run([&] { return Asleep(); }));

    // A key typed while it sleeps is still looked at: the first key sets the login mode.
    ASSERT_TRUE(ReopenTerminalPort());
    ASSERT_TRUE(IsTerminalPortOpen(*e));
    ASSERT_TRUE(Run([&] { return Asleep(); }));
    clock += 5;
    terminal->send(Bytes({0x0D}));
    ASSERT_TRUE(Run([&] { return e->View().loginMode == "next"; }));
    EXPECT_EQ(e->View().milestone, "C");
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), "\r");
}

// Both links open and nothing said on either: no handler at all runs, so the idle bridge
// costs the machine nothing; and it still wakes for the next key.
TEST_F(RealLine, TheIdleEngineWithBothLinksOpenRunsNoHandlerForASecond) {
    OpenBothByLamps();
    ASSERT_TRUE(Run([&] { return Asleep(); }));
    Settle(200);
    ASSERT_TRUE(Asleep());

    auto work = asio::make_work_guard(io);  // so the second is waited out, not skipped
    if (io.stopped()) io.restart();
    const Clock::time_point start = Clock::now();
    const std::size_t handlers = io.run_for(std::chrono::seconds(1));
    EXPECT_EQ(handlers, 0u);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(Asleep());
    EXPECT_TRUE(IsTerminalPortOpen(*e));
    EXPECT_TRUE(IsHostConnected(*e));

    terminal->send("k");
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), "k");
}

// The load goes out at 2400,o,8,1; the line goes back to 2400,e,7,1 for the host only once its
// last character has left the line: a switch while the trailer is still on its way would send
// its end at the wrong framing.
TEST_F(RealLine, TheLoadsSwitchBackTo7E1ComesOnlyAfterItsLastBytesLeftTheLine) {
    const std::string file = Pattern(300, 4);
    const std::string all = file + "\xAF\xAF" + std::string(253, '\0');
    {
        std::ofstream f(LoadFilePath(dir.path(), 5), std::ios::binary);
        f << file;
        ASSERT_TRUE(f);
    }
    e->SetChunkDelay(5);
    TerminalReadsAt(2400);
    bool done = false;
    e->Start([&done] { done = true; });
    ASSERT_TRUE(Run([&] { return e->nLoadFileRequest == -1; }));
    Settle(50);
    const std::int64_t base = terminal->readTotal();
    terminal->send("L05x");

    bool sawLoad = false;
    std::string settingsAtEnd;       // when the terminal got the trailer's last character
    std::int64_t readAtSwitch = -1;  // what the terminal had got when the line switched back
    const auto total = static_cast<std::int64_t>(all.size());
    ASSERT_TRUE(RunWatching([&] { return done; }, 60000,
                            [&] {
                                const std::string& settings = e->Comm.Settings();
                                const std::int64_t got = terminal->readTotal() - base;
                                sawLoad = sawLoad || settings == "2400,o,8,1";
                                if (settingsAtEnd.empty() && got >= total) settingsAtEnd = settings;
                                if (sawLoad && readAtSwitch < 0 && settings == "2400,e,7,1")
                                    readAtSwitch = got;
                            }));
    EXPECT_TRUE(sawLoad);
    EXPECT_EQ(settingsAtEnd, "2400,o,8,1");
    EXPECT_EQ(readAtSwitch, total);
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");
    EXPECT_TRUE(terminal->takeReceived() == all);

    EXPECT_TRUE(IsHostConnected(*e));
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "\r\r");
}
