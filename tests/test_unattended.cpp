// The unattended keeper on a real pty terminal and a loopback host: outages of the host, a
// terminal that is switched off and on, an adapter that is late or pulled and plugged back.
#include <unistd.h>

#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <fstream>
#include <memory>

#include "links/unattended.h"
#include "resident/loader.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

std::string FilePattern(int size) {
    std::string b;
    for (int i = 0; i < size; ++i) b.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
    return b;
}
int LinesWith(const std::vector<std::string>& lines, const std::string& part) {
    int n = 0;
    for (const std::string& l : lines) n += l.find(part) != std::string::npos ? 1 : 0;
    return n;
}

}  // namespace

class Keeper : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        e->CommLogSink = [this](const std::string& line) { log.push_back(line); };
        e->SetChunkDelay(1);
        // The loader's pauses, short: the tests are about what is sent, not its pace.
        e->Sleep = [this](int ms) -> asio::awaitable<void> {
            asio::steady_timer t(io, std::chrono::milliseconds(std::min(ms, 5)));
            co_await t.async_wait(asio::use_awaitable);
        };
        options.grace = std::chrono::milliseconds(10000);
        options.firstPause = std::chrono::milliseconds(100);
        options.longestPause = std::chrono::milliseconds(400);
    }
    void TearDown() override {
        keeper.reset();
        BridgeTest::TearDown();
    }

    // The keeper begins; true once it says the port is open or waited for.
    void Begin(bool expectRefused = false) {
        keeper = std::make_unique<Unattended>(*e, options);
        std::optional<bool> refused;
        keeper->Begin([&refused](bool r) { refused = r; });
        ASSERT_TRUE(Run([&] { return refused.has_value(); }));
        ASSERT_EQ(*refused, expectRefused) << recorder.joined();
    }
    // Waits for the load request (the keeper arms it) and presses the first key after a
    // quiet second: the host is connected and gets that key.
    void UpByFirstKey() {
        ASSERT_TRUE(Run([this] { return IsTerminalPortOpen(*e) && e->nLoadFileRequest == -1; }));
        Key("\r");
        ASSERT_TRUE(Run([this] { return IsHostConnected(*e); }));
        ASSERT_TRUE(host->waitForBytes(1, 5000));
        Settle(50);
        EXPECT_EQ(host->takeReceived(), "\r");
    }
    // Input after a quiet second, as a user's key.
    void Key(const std::string& bytes) {
        clock += 2;
        terminal->send(bytes);
    }
    void WriteLoadFile(int number, const std::string& bytes) {
        std::ofstream f(LoadFilePath(dir.path(), number), std::ios::binary);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // The keeper's port entry: a device path under the test's folder, made later as a link.
    std::string DevicePath() const { return dir.path() + "/tty-term"; }
    void LinkDevice(const std::string& to) {
        ::unlink(DevicePath().c_str());
        ASSERT_EQ(::symlink(to.c_str(), DevicePath().c_str()), 0);
    }

    UnattendedOptions options;
    std::unique_ptr<Unattended> keeper;
    std::vector<std::string> log;
};

TEST_F(Keeper, AFirstKeyWhileWaitingForALoadConnectsAndReplaysThatKey) {
    Begin();
    UpByFirstKey();
    EXPECT_EQ(e->View().milestone, "D");
    EXPECT_EQ(e->View().loginMode, "next");
    EXPECT_EQ(LinesWith(log, "First key (next) before any load request"), 1);
    EXPECT_EQ(host->connectionCount(), 1);
}

TEST_F(Keeper, AHostThatClosesOrResetsIsReachedAgainWithTheLoginKey) {
    Begin();
    UpByFirstKey();
    host->closeConnection();
    ASSERT_TRUE(Run([this] { return host->connectionCount() == 2 && IsHostConnected(*e); }));
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    Settle(50);
    EXPECT_EQ(host->takeReceived(), "\r");
    EXPECT_EQ(e->View().milestone, "D");

    host->resetConnection();
    ASSERT_TRUE(Run([this] { return host->connectionCount() == 3 && IsHostConnected(*e); }));
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    Settle(50);
    EXPECT_EQ(host->takeReceived(), "\r");

    // One line each way per outage: the component's own reports of the drop are in the
    // keeper's line.
    EXPECT_EQ(LinesWith(log, "lost ("), 2);
    EXPECT_EQ(LinesWith(log, "Disconnected from"), 2);
    EXPECT_EQ(LinesWith(log, "Connection reset by peer"), 1);
    EXPECT_EQ(LinesWith(log, "back after"), 2);
    EXPECT_EQ(LinesWith(log, ", 1 attempt"), 2);
    EXPECT_TRUE(IsTerminalPortOpen(*e));
}

TEST_F(Keeper, AHostListenerDownForAWhileIsRetriedWithGrowingPausesAndOneLineEachWay) {
    Begin();
    UpByFirstKey();
    const std::uint16_t port = host->port();
    host.reset();  // the listener and its connection go
    ASSERT_TRUE(Run([this] { return keeper->State().attempts >= 3; }, 5000));
    // The user types meanwhile: dropped, and counted once.
    Key("abc");
    Run([] { return false; }, 300);
    EXPECT_EQ(keeper->State().host, UnattendedState::Host::Reconnecting);
    EXPECT_EQ(e->View().milestone, "A");

    host = std::make_unique<rig::LoopbackHost>(io, port);
    ASSERT_TRUE(host->listening());
    ASSERT_TRUE(Run([this] { return host->connected() && IsHostConnected(*e); }, 5000));
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    Settle(50);
    EXPECT_EQ(host->takeReceived(), "\r");

    EXPECT_EQ(LinesWith(log, "lost ("), 1);
    ASSERT_EQ(LinesWith(log, "back after"), 1);
    EXPECT_EQ(LinesWith(log, "3 bytes of terminal input dropped meanwhile"), 1);
    // The attempts themselves leave no lines.
    EXPECT_EQ(LinesWith(log, "Cannot connect"), 0);
    EXPECT_EQ(LinesWith(log, "Connecting to"), 1);  // the first connection's, before the outage
}

TEST_F(Keeper, ALoadRequestAfterAQuietSecondWhileRelayingIsServedAndTheHostWoken) {
    const std::string file = FilePattern(600);
    WriteLoadFile(5, file);
    Begin();
    UpByFirstKey();

    Key("L05x");
    ASSERT_TRUE(terminal->waitForBytes(600 + 255, 10000)) << terminal->receivedCount();
    Settle(100);
    EXPECT_EQ(terminal->takeReceived(), file + Trailer());
    ASSERT_TRUE(Run([this] { return host->connectionCount() == 2 && IsHostConnected(*e); }));
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    Settle(100);
    // The request went to the loader, not to the host as keys.
    EXPECT_EQ(host->takeReceived(), "\r\r");
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");
    EXPECT_EQ(keeper->State().loadsServed, 1);
    EXPECT_EQ(LinesWith(log, "LOADING FILE 05"), 2);  // a line at its start and one at its end
    EXPECT_EQ(LinesWith(log, "LOADING FILE 05 BLOCK 01 BYTE 0258"), 1);
}

TEST_F(Keeper, ARequestTypedKeyByKeyIsRelayedAndLoadsNothing) {
    WriteLoadFile(5, FilePattern(300));
    Begin();
    UpByFirstKey();
    for (const char* k : {"L", "0", "5", "x"}) {
        Key(k);
        ASSERT_TRUE(Run([this] { return e->sToHost.empty() && e->Comm.InBufferCount() == 0; }));
        Settle(30);
    }
    ASSERT_TRUE(host->waitForBytes(4, 5000));
    Settle(200);
    EXPECT_EQ(host->takeReceived(), "L05x");
    EXPECT_EQ(terminal->takeReceived(), "");
    EXPECT_EQ(host->connectionCount(), 1);
    EXPECT_EQ(keeper->State().loadsServed, 0);
}

TEST_F(Keeper, ALoadRequestAtTheStartIsServedAsTheStartButtonServesIt) {
    const std::string file = FilePattern(300);
    WriteLoadFile(3, file);
    Begin();
    ASSERT_TRUE(Run([this] { return e->nLoadFileRequest == -1; }));
    Settle(50);
    terminal->send("L03x");
    ASSERT_TRUE(terminal->waitForBytes(300 + 255, 10000));
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    Settle(100);
    EXPECT_EQ(terminal->takeReceived(), file + Trailer());
    EXPECT_EQ(host->takeReceived(), "\r\r");
    EXPECT_EQ(e->View().milestone, "D");
}

TEST_F(Keeper, ADeviceMissingAtTheStartIsOpenedOnceItsLinkAppears) {
    e->ChoosePortEntry(DevicePath() + ":2400,e,7,1");
    Begin();
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_EQ(keeper->State().port, UnattendedState::Port::Waiting);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(LinesWith(log, "waiting for its device " + DevicePath()), 1);
    Run([] { return false; }, 300);

    const auto made = std::chrono::steady_clock::now();
    LinkDevice(terminal->slavePath());
    ASSERT_TRUE(Run([this] { return IsTerminalPortOpen(*e); }, 5000));
    // Told by the folder's watch, not found by a look a second later.
    EXPECT_LT(std::chrono::steady_clock::now() - made, std::chrono::milliseconds(700));
    EXPECT_EQ(e->View().milestone, "A");
    EXPECT_EQ(LinesWith(log, "open after"), 1);
    UpByFirstKey();
}

TEST_F(Keeper, ADeviceThatVanishesWithinTheGraceKeepsTheHostAndGetsWhatItSent) {
    LinkDevice(terminal->slavePath());
    e->ChoosePortEntry(DevicePath());
    Begin();
    UpByFirstKey();

    terminal->hangUp();
    ::unlink(DevicePath().c_str());
    ASSERT_TRUE(Run([this] { return LinesWith(log, "lost") == 1; }));
    host->send("held for the terminal");
    Run([] { return false; }, 300);
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_FALSE(e->SSL.AcceptData());  // the host is held back, nothing is dropped
    EXPECT_FALSE(e->sTimerActive);      // and the pump sleeps meanwhile

    rig::PtyTerminal second(io, dir.path(), 2);
    LinkDevice(second.slavePath());
    ASSERT_TRUE(Run([this] { return IsTerminalPortOpen(*e); }));
    ASSERT_TRUE(second.waitForBytes(21, 5000));
    EXPECT_EQ(second.takeReceived(), "held for the terminal");
    EXPECT_EQ(host->connectionCount(), 1);
    EXPECT_EQ(e->View().milestone, "D");
    EXPECT_EQ(e->View().loginMode, "next");
    EXPECT_EQ(LinesWith(log, "back after"), 1);
    // The session goes on as before.
    clock += 2;
    second.send("k");
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), "k");
}

TEST_F(Keeper, ADeviceAwayPastTheGraceClosesTheHostAndANewOneStartsAfresh) {
    options.grace = std::chrono::milliseconds(300);
    LinkDevice(terminal->slavePath());
    e->ChoosePortEntry(DevicePath());
    Begin();
    UpByFirstKey();

    terminal->hangUp();
    ::unlink(DevicePath().c_str());
    ASSERT_TRUE(host->waitForDisconnect(5000));
    // The stop's order ran.
    ASSERT_TRUE(Run([this] { return e->View().statusLine == "HOST NOT CONNECTED"; }));
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_EQ(e->View().lampSSL, LampDown);
    EXPECT_EQ(LinesWith(log, "host connection closed"), 1);

    rig::PtyTerminal second(io, dir.path(), 2);
    LinkDevice(second.slavePath());
    ASSERT_TRUE(Run([this] { return IsTerminalPortOpen(*e) && e->nLoadFileRequest == -1; }));
    EXPECT_EQ(e->View().milestone, "A");
    clock += 2;
    second.send("\r");
    ASSERT_TRUE(Run([this] { return host->connectionCount() == 2 && IsHostConnected(*e); }));
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), "\r");
}

TEST_F(Keeper, ADeviceLostDuringALoadIsWaitedForAndTheTerminalStartsAfresh) {
    WriteLoadFile(5, FilePattern(20000));
    LinkDevice(terminal->slavePath());
    e->ChoosePortEntry(DevicePath());
    Begin();
    ASSERT_TRUE(Run([this] { return e->nLoadFileRequest == -1; }));
    Key("L05x");
    ASSERT_TRUE(terminal->waitForBytes(1000, 10000));
    terminal->hangUp();
    ::unlink(DevicePath().c_str());
    ASSERT_TRUE(Run([this] { return keeper->State().port == UnattendedState::Port::Waiting; }));
    Run([] { return false; }, 200);
    EXPECT_FALSE(e->bLoadingResident);
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(LinesWith(log, "not reached"), 0);

    rig::PtyTerminal second(io, dir.path(), 2);
    LinkDevice(second.slavePath());
    ASSERT_TRUE(Run([this] { return IsTerminalPortOpen(*e) && e->nLoadFileRequest == -1; }));
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");
    clock += 2;
    second.send("L05x");
    ASSERT_TRUE(second.waitForBytes(20000 + 255, 20000));
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "\r\r");
}

TEST_F(Keeper, ADeviceThatIsThereButCannotBeOpenedEndsTheStart) {
    { std::ofstream(DevicePath()) << "not a terminal"; }
    e->ChoosePortEntry(DevicePath());
    Begin(true);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_NE(recorder.messages[0].find("Can't open " + DevicePath()), std::string::npos);
}

TEST_F(Keeper, AStopEndsEveryWaitOfTheKeeper) {
    e->ChoosePortEntry(DevicePath());
    Begin();
    keeper->Stop();
    Stop();
    LinkDevice(terminal->slavePath());
    Run([] { return false; }, 300);
    EXPECT_FALSE(IsTerminalPortOpen(*e));
}
