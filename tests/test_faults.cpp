// Faults on the real rig: resets and hang-ups of either link in the middle of traffic, a
// device that is gone, and host data split anywhere.
// Each test checks that the engine still answers and that no byte is lost or changed except
// where the bridge drops data on purpose.
#include <asio/post.hpp>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "links/host_socket.h"
#include "relay/bounds.h"
#include "relay/host_data.h"
#include "tests/bridge_fixture.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::testing;
namespace fs = std::filesystem;

namespace {

// Host to terminal: no 0xFF, so the pair rule leaves it as it is.
std::string HostPattern(std::size_t size) {
    std::string b(size, '\0');
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 31 + i / 256) % 255);
    return b;
}

}  // namespace

class Faults : public BridgeTest {
  protected:
    void TearDown() override {
        live_.reset();  // what this test left queued on the io_context does nothing
        BridgeTest::TearDown();
    }

    // The engine answers: a handler posted now runs within the bound.
    bool Answers(int boundMs = 5000) {
        auto fired = std::make_shared<bool>(false);
        asio::post(io, [fired] { *fired = true; });
        return Run([fired] { return *fired; }, boundMs);
    }

    // Runs one of the engine's routines to its end (bounded), as its caller would.
    bool Call(Engine& engine, asio::awaitable<void> (*routine)(Engine&), int ms = 35000) {
        auto done = std::make_shared<bool>(false);
        engine.Spawn([&engine, routine, done]() -> asio::awaitable<void> {
            co_await routine(engine);
            *done = true;
        });
        return Run([done] { return *done; }, ms);
    }

    // Runs `step` once per turn of the io_context until it returns false.
    void EveryTurn(std::function<bool()> step) {
        asio::post(io, [this, step = std::move(step), live = std::weak_ptr<bool>(live_)] {
            if (!live.expired() && step()) EveryTurn(step);
        });
    }

    // Ticks the pump by hand between short rounds until the terminal holds n bytes, so a
    // large burst need not take its 25-a-millisecond time; the order is the pump's own.
    bool DrainToTerminal(std::size_t n, int timeoutMs) {
        return Run(
            [&] {
                Tick(100);
                Settle(1);
                return static_cast<std::size_t>(terminal->receivedCount()) >= n;
            },
            timeoutMs);
    }

    // Runs `seen` after the engine has handled each piece of host data.
    void AfterHostData(std::function<void(const std::string&)> seen) {
        auto engine = e->SSL.DataIn;
        e->SSL.DataIn = [engine, seen](const std::string& text, bool endOfLine) {
            if (engine) engine(text, endOfLine);
            seen(text);
        };
    }
    // Counts what the host socket delivers, before any cleaning.
    void CountHostData() {
        AfterHostData([this](const std::string& text) { fromHost += text.size(); });
    }

    std::size_t CommLogCount(const std::string& part) const {
        return CountOf(e->View().commPane, part);
    }

    std::size_t fromHost = 0;
    std::shared_ptr<bool> live_ = std::make_shared<bool>(true);
};

TEST_F(Faults, APortWhoseDeviceIsGoneCannotBeOpenedAndNothingElseIsOpenedInstead) {
    e->LampDoubleClick(false);
    ASSERT_TRUE(Run([this] { return e->View().lampRS232 == LampUp; })) << recorder.joined();
    ASSERT_TRUE(IsTerminalPortOpen(*e));
    e->LampDoubleClick(false);
    ASSERT_TRUE(Run([this] { return e->View().lampRS232 == LampDown; }));
    ASSERT_FALSE(IsTerminalPortOpen(*e));

    // The adapter is pulled: the link stays, its device is gone.
    const std::string link = terminal->linkPath();
    ASSERT_TRUE(fs::remove(link));
    fs::create_symlink(fs::path(dir.path()) / "gone/ttyUSB0", link);
    e->LampDoubleClick(false);
    ASSERT_TRUE(Run([this] { return !messages().empty(); }));
    Settle();
    EXPECT_EQ(messages(), std::vector<std::string>{"Can't open com1:2400,e,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampDown);
    EXPECT_TRUE(e->View().startEnabled);
    EXPECT_TRUE(Answers());

    // A link removed altogether leaves the port to /dev/ttyS(N-1); with none there, the same.
    recorder.messages.clear();
    {
        rig::PtyTerminal far(io, dir.path(), 77);
        e->ChoosePortEntry("com77:2400,e,7,1");
        ASSERT_TRUE(Call(*e, OpenTerminalPort));
        ASSERT_TRUE(IsTerminalPortOpen(*e));
        CloseTerminalPort(*e);
    }
    if (fs::exists("/dev/ttyS76")) GTEST_SKIP() << "this machine has /dev/ttyS76";
    e->LampDoubleClick(false);
    ASSERT_TRUE(Run([this] { return !messages().empty(); }));
    Settle();
    EXPECT_EQ(messages(), std::vector<std::string>{"Can't open com77:2400,e,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_TRUE(Answers());
}

TEST_F(Faults, AHostResetInTheMiddleOfABurstDeliversWhatCameAndNothingAfter) {
    e->SetLogToFile(true);
    OpenBothByLamps();
    CountHostData();
    const std::string burst = HostPattern(1 << 20);
    // The host writes its burst piece by piece while the bridge relays, and resets the link
    // halfway; what it handed to the system before the reset may still be on its way.
    std::size_t sent = 0;
    EveryTurn([&] {
        if (sent == burst.size() / 2) {
            host->resetConnection();
            return false;
        }
        host->send(burst.substr(sent, 4096));
        sent += 4096;
        return true;
    });
    // Held back by a terminal that takes 25 a tick, the bridge sees the reset only once it
    // has taken what came before it, and what it held then is still delivered: tick fast
    // until all of it is through.
    ASSERT_TRUE(Run(
        [this] {
            Tick(100);
            return !IsHostConnected(*e) && e->SSL.AcceptData() && e->sToTerminal.empty();
        },
        30000));
    EXPECT_TRUE(Answers());
    const std::size_t came = fromHost;
    RecordProperty("bytes_before_reset", static_cast<int>(came));
    ASSERT_GT(came, 0u);
    ASSERT_LE(came, sent);

    ASSERT_TRUE(DrainToTerminal(came, 60000));
    Settle(200);
    Tick(100);
    const std::string got = terminal->readFor(100);
    EXPECT_EQ(fromHost, came);
    ASSERT_EQ(got.size(), came);
    EXPECT_TRUE(got == burst.substr(0, came)) << "the bytes before the reset changed";
    EXPECT_TRUE(e->sToTerminal.empty());

    // The operator sees the reason in the log; the lamp keeps the colour of the last command.
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_EQ(
        CommLogCount("Disconnected from 127.0.0.1 port " + std::to_string(host->port()) + ": "), 1u)
        << e->View().commPane;
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampUp);
    EXPECT_TRUE(IsTerminalPortOpen(*e));
}

// After the host closes, the SSL lamp stays green and a double-click on it runs CloseHost, which
// does nothing on a link that is down: the operator reconnects with the stop button and the
// start button (with "Resident is loaded" ticked the start connects at once).
TEST_F(Faults, AfterTheHostClosesAnOpenReconnectsAndDataFlowsAgain) {
    e->SetLogToFile(true);
    e->SetResidentLoaded(true);
    Start();
    ASSERT_TRUE(IsHostConnected(*e));
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    host->takeReceived();

    host->closeConnection();
    ASSERT_TRUE(Run([this] { return !IsHostConnected(*e); }));
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampUp);
    EXPECT_EQ(CommLogCount("Disconnected from"), 1u);
    e->LampDoubleClick(true);
    Settle(100);
    EXPECT_EQ(host->connectionCount(), 1);
    EXPECT_FALSE(IsHostConnected(*e));

    // The lamp's own open, called directly: a new connection that carries both ways.
    ASSERT_TRUE(Call(*e, OpenHost));
    ASSERT_TRUE(IsHostConnected(*e));
    ASSERT_TRUE(host->waitForConnection(5000));
    EXPECT_EQ(host->connectionCount(), 2);
    EXPECT_EQ(e->View().milestone, "D");
    const std::string typed = TerminalPattern(3000);
    terminal->send(typed);
    // The login key of the start goes first.
    ASSERT_TRUE(host->waitForBytes(static_cast<int>(typed.size()) + 1, 5000));
    EXPECT_EQ(host->takeReceived(), "\r" + typed);
    host->send(HostPattern(3000));
    ASSERT_TRUE(terminal->waitForBytes(3000, 10000));
    EXPECT_EQ(terminal->takeReceived(), HostPattern(3000));

    // The operator's way: stop, then start.
    host->closeConnection();
    ASSERT_TRUE(Run([this] { return !IsHostConnected(*e); }));
    Stop();
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    Start();
    ASSERT_TRUE(IsHostConnected(*e));
    ASSERT_TRUE(host->waitForConnection(5000));
    EXPECT_EQ(host->connectionCount(), 3);
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampUp);
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "\r\r");
    terminal->send("go");
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "go");
}

TEST_F(Faults, ATerminalHangUpUnderTrafficBothWaysKeepsWhatPassedInOrder) {
    e->SetLogToFile(true);
    OpenBothByLamps();
    const std::string down = HostPattern(256 * 1024);
    const std::string up = TerminalPattern(256 * 1024);
    host->send(down);
    // The first read is inspected: without a flush key in it, so the host's output is not
    // discarded on the way (the later reads come within the same second).
    terminal->send("x");
    Settle(5);
    std::string got;
    constexpr std::size_t kPiece = 16 * 1024;
    for (std::size_t at = 0; at < up.size() / 2; at += kPiece) {
        terminal->send(up.substr(at, kPiece));
        Settle(5);
    }
    got += terminal->takeReceived();
    terminal->hangUp();
    got += terminal->takeReceived();

    ASSERT_TRUE(Run([this] { return LinkLampColor(*e, "RS232") == LampDown; }));
    EXPECT_TRUE(Answers());
    Settle(300);
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_EQ(CommLogCount("lost"), 1u) << e->View().commPane;
    EXPECT_TRUE(got == down.substr(0, got.size())) << "the terminal got changed bytes";
    const std::string atHost = host->received();
    EXPECT_LE(atHost.size(), up.size() / 2 + 1);
    const std::string sentUp = "x" + up;
    EXPECT_TRUE(atHost == sentUp.substr(0, atHost.size())) << "the host got changed bytes";

    // The host link stays up; what the host sends now is dropped for the closed port.
    EXPECT_TRUE(IsHostConnected(*e));
    host->send(HostPattern(1000));
    Settle(50);
    for (int i = 0; i < 20000 && !e->sToTerminal.empty(); ++i) Tick();
    EXPECT_TRUE(e->sToTerminal.empty());
    EXPECT_TRUE(Answers());
}

TEST_F(Faults, AHostBurstWhileThePortIsClosedIsDroppedAtThePumpsPace) {
    e->LampDoubleClick(true);
    ASSERT_TRUE(Run([this] { return e->View().lampSSL == LampUp; }));
    ASSERT_TRUE(IsHostConnected(*e));
    ASSERT_TRUE(host->waitForConnection(5000));
    CountHostData();
    std::size_t peak = 0;
    bool heldBack = false;
    AfterHostData([&](const std::string&) {
        peak = std::max(peak, e->sToTerminal.size());
        heldBack = heldBack || !e->SSL.AcceptData();
    });
    // More than the bridge holds for the terminal: the host is held back while the pump
    // drops it, and every byte is still taken in the end.
    const std::string burst = HostPattern(192 * 1024);
    host->send(burst);
    ASSERT_TRUE(Run([&] { return fromHost == burst.size(); }, 30000));
    EXPECT_TRUE(Answers(2000));
    EXPECT_TRUE(heldBack);
    EXPECT_LE(peak, kToTerminalHigh + 64 * 1024);

    // The timer drains it, 25 a tick, with nobody to take it.
    const std::size_t before = e->sToTerminal.size();
    ASSERT_GT(before, 0u);
    ASSERT_TRUE(Run([&] { return e->sToTerminal.size() < before; }));
    EXPECT_EQ((before - e->sToTerminal.size()) % ToTerminalSlice, 0u);
    const std::size_t ticks = e->sToTerminal.size() / ToTerminalSlice + 1;
    Tick(static_cast<int>(ticks));
    EXPECT_TRUE(e->sToTerminal.empty());
    EXPECT_TRUE(terminal->readFor(50).empty());
    EXPECT_TRUE(IsHostConnected(*e));
}

namespace {

// What the terminal gets from host events under the pair rule: an event with a 0xFF is
// cleaned (of two 0xFF in a row one goes through, a lone one is dropped, an unpaired one at
// the end waits for the next cleaned event); an event without one passes as it is and keeps
// the waiting 0xFF.
std::string PairRule(const std::vector<std::string>& events, bool& pending) {
    std::string out;
    for (const std::string& event : events) {
        if (event.find('\xFF') == std::string::npos) {
            out += event;
            continue;
        }
        for (char c : event) {
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

std::string HexDump(const std::string& b) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char c : b) {
        if (!text.empty()) text += ' ';
        text += kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF];
        text += kDigits[static_cast<unsigned char>(c) & 0xF];
    }
    return text;
}

}  // namespace

TEST_F(Faults, EveryShortMixOfFFAndOneOtherByteSplitAnywhereFollowsThePairRule) {
    int cases = 0;
    for (const char other : {'\x41', '\x00', '\xFE'}) {
        for (int length = 0; length <= 8; ++length) {
            for (int mask = 0; mask < (1 << length); ++mask) {
                std::string text;
                for (int i = 0; i < length; ++i) text += (mask >> i & 1) ? '\xFF' : other;
                for (int cut = 0; cut <= length; ++cut) {
                    for (const bool startPending : {false, true}) {
                        const std::vector<std::string> events{text.substr(0, cut),
                                                              text.substr(cut)};
                        bool pending = startPending;
                        const std::string expected = PairRule(events, pending);
                        e->sToTerminal.clear();
                        e->bIacPending = startPending;
                        for (const std::string& event : events) SSL_DataIn(*e, event, false);
                        ++cases;
                        if (e->sToTerminal != expected || e->bIacPending != pending) {
                            FAIL() << HexDump(events[0]) << " | " << HexDump(events[1])
                                   << ", pending " << startPending << ": got "
                                   << HexDump(e->sToTerminal) << ", expected " << HexDump(expected);
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(cases, 3 * 2 * 4097);

    // "novanet" takes them as they come, and leaves the waiting 0xFF alone.
    e->Show().hostName = "novanet";
    e->sToTerminal.clear();
    e->bIacPending = true;
    SSL_DataIn(*e, Bytes({0xFF, 0x41, 0xFF}), false);
    SSL_DataIn(*e, Bytes({0xFF, 0xFF}), false);
    EXPECT_EQ(e->sToTerminal, Bytes({0xFF, 0x41, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(e->bIacPending);
}
