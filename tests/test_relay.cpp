// The relay pump and the host data path, between a real pty and a real loopback host.
#include <functional>

#include "relay/host_data.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

class Relay : public BridgeTest {
  protected:
    // A double-click on a lamp, run to its end.
    bool DoubleClick(bool ssl) {
        return Await([&](std::function<void()> done) {
            e->Spawn([this, ssl, done]() -> asio::awaitable<void> {
                if (ssl)
                    co_await status_SSL_DblClick(*e);
                else
                    co_await status_RS232_DblClick(*e);
                done();
            });
        });
    }
};

TEST_F(Relay, EveryByteTypedReachesTheHostUnchangedOneTickLate) {
    OpenBothByLamps();
    PausePump();
    Settle();
    host->takeReceived();
    terminal->send(AllByteValues());
    Settle();
    Tick();
    EXPECT_EQ(e->sToHost, AllByteValues());  // read in this tick, sent in the next
    Settle();
    EXPECT_TRUE(host->received().empty());
    Tick();
    EXPECT_TRUE(e->sToHost.empty());
    ASSERT_TRUE(host->waitForBytes(256, 5000));
    EXPECT_EQ(host->takeReceived(), AllByteValues());
}

TEST_F(Relay, InputWhileTheHostIsDownIsConsumedAndDropped) {
    ASSERT_TRUE(DoubleClick(false));
    ASSERT_TRUE(IsTerminalPortOpen(*e));
    PausePump();
    terminal->send("hello");
    Settle();
    Tick(2);
    EXPECT_TRUE(e->sToHost.empty());
    EXPECT_EQ(e->Comm.InBufferCount(), 0);
    // Connecting later does not bring the old input back.
    ASSERT_TRUE(DoubleClick(true));
    ASSERT_TRUE(host->waitForConnection(5000));
    Tick(3);
    Settle(100);
    EXPECT_TRUE(host->received().empty());
}

TEST_F(Relay, LargeTerminalInputIsRelayedWholeAndInOrder) {
    OpenBothByLamps();
    std::string big;
    for (int i = 0; i < 200000; ++i) big.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    terminal->send(big);
    ASSERT_TRUE(host->waitForBytes(static_cast<int>(big.size()), 20000));
    EXPECT_TRUE(host->takeReceived() == big);
}

TEST_F(Relay, HostDataGoesToTheTerminal25CharactersPerTick) {
    OpenBothByLamps();
    PausePump();
    Settle();
    terminal->takeReceived();
    e->sToTerminal = std::string(60, 'x');
    Tick();
    EXPECT_EQ(terminal->readFor(50).size(), 25u);
    Tick();
    EXPECT_EQ(terminal->readFor(50).size(), 25u);
    Tick();
    EXPECT_EQ(terminal->readFor(50).size(), 10u);
    Tick();
    EXPECT_TRUE(terminal->readFor(50).empty());
}

TEST_F(Relay, MoreThan64KiBFromTheHostReachTheTerminalWholeAndInOrder) {
    OpenBothByLamps();
    std::string big;
    for (int i = 0; i < 100000; ++i) big.push_back(static_cast<char>((i * 13 + 5) & 0xFF));
    for (char& c : big)
        if (c == '\xFF') c = '\xFE';  // the pair rule is tested on its own below
    host->send(big);
    ASSERT_TRUE(terminal->waitForBytes(static_cast<int>(big.size()), 60000));
    EXPECT_TRUE(terminal->takeReceived() == big);
}

TEST_F(Relay, FFPairsAreUndoneButNotForNovanet) {
    OpenBothByLamps();
    PausePump();
    Settle();
    terminal->takeReceived();
    host->send(Bytes({0x41, 0xFF, 0xFF, 0x42, 0xFF, 0x43}));
    Settle(100);
    Tick(2);
    EXPECT_EQ(terminal->readFor(50), Bytes({0x41, 0xFF, 0x42, 0x43}));

    e->Show().hostName = "novanet";
    host->send(Bytes({0xFF, 0x41, 0xFF, 0xFF}));
    Settle(100);
    Tick(2);
    EXPECT_EQ(terminal->readFor(50), Bytes({0xFF, 0x41, 0xFF, 0xFF}));
}

TEST_F(Relay, APendingFFSurvivesAnEventWithoutFF) {
    e->Show().hostName = "cyber1";
    SSL_DataIn(*e, Bytes({0x41, 0xFF}), false);
    EXPECT_EQ(e->sToTerminal, Bytes({0x41}));
    SSL_DataIn(*e, Bytes({0xFF, 0x42}), false);
    EXPECT_EQ(e->sToTerminal, Bytes({0x41, 0xFF, 0x42}));
    e->sToTerminal.clear();
    SSL_DataIn(*e, Bytes({0x43, 0xFF}), false);
    SSL_DataIn(*e, Bytes({0x44}), false);  // no 0xFF: appended as it came, still pending
    SSL_DataIn(*e, Bytes({0xFF, 0x45}), false);
    EXPECT_EQ(e->sToTerminal, Bytes({0x43, 0x44, 0xFF, 0x45}));
    // Letter case matters: "NovaNet" is another system.
    e->sToTerminal.clear();
    e->Show().hostName = "NovaNet";
    SSL_DataIn(*e, Bytes({0xFF, 0x41}), false);
    EXPECT_EQ(e->sToTerminal, Bytes({0x41}));
}

TEST_F(Relay, ALoneDC1AfterAQuietSecondFlushesPendingHostOutput) {
    OpenBothByLamps();
    PausePump();
    Settle();
    terminal->takeReceived();
    e->sToTerminal = std::string(100, 'y');
    clock += 5;
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();  // writes 25, reads the 0x11 and sets the flush
    EXPECT_TRUE(e->bFlushToTerminal);
    // The terminal takes the first slice off the line before the next tick; the flush would
    // also discard what the line had not sent yet.
    EXPECT_EQ(terminal->readFor(50).size(), 25u);
    Tick();  // writes one more slice and drops the rest
    EXPECT_TRUE(e->sToTerminal.empty());
    EXPECT_EQ(terminal->readFor(50).size(), 25u);
    Tick(3);
    EXPECT_TRUE(terminal->readFor(50).empty());
}

TEST_F(Relay, TheFirstKeyAfterAQuietSecondSetsMilestoneAndLoginMode) {
    OpenBothByLamps();
    // The host connection made the milestone "D"; a closed and reopened port starts at "A".
    PausePump();
    CloseTerminalPort(*e);
    ASSERT_TRUE(DoubleClick(false));
    ASSERT_EQ(e->View().milestone, "A");
    ASSERT_EQ(e->View().loginMode, "");

    clock += 3;
    terminal->send(Bytes({0x0D, 0x0D}));  // two characters in one read: not a first key
    Settle();
    Tick();
    EXPECT_EQ(e->View().milestone, "A");

    clock += 3;
    terminal->send(Bytes({0x0D}));
    Settle();
    Tick();
    EXPECT_EQ(e->View().milestone, "C");
    EXPECT_EQ(e->View().loginMode, "next");
}

TEST_F(Relay, InputInTheSameSecondIsRelayedButNotInspected) {
    ASSERT_TRUE(DoubleClick(false));
    PausePump();
    terminal->send("a");
    Settle();
    Tick();  // stamps the read
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();  // same clock second
    EXPECT_FALSE(e->bFlushToTerminal);
    EXPECT_EQ(e->View().milestone, "A");
    EXPECT_EQ(e->View().loginMode, "");
    EXPECT_EQ(e->sToHost, Bytes({0x11}));

    clock += 1;
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();
    EXPECT_TRUE(e->bFlushToTerminal);
    EXPECT_EQ(e->View().milestone, "C");
    EXPECT_EQ(e->View().loginMode, "stop1");
}

TEST_F(Relay, ALoadFileRequestIsRecognisedOnlyInOneRead) {
    OpenBothByLamps();
    PausePump();
    Settle();
    host->takeReceived();
    e->nLoadFileRequest = -1;
    terminal->send("L05x");
    Settle();
    Tick(2);
    EXPECT_EQ(e->nLoadFileRequest, 5);
    ASSERT_TRUE(host->waitForBytes(4, 5000));
    EXPECT_EQ(host->takeReceived(), "L05x");  // still relayed

    e->nLoadFileRequest = -1;
    terminal->send("L0");
    Settle();
    Tick();
    terminal->send("5x");
    Settle();
    Tick(2);
    EXPECT_EQ(e->nLoadFileRequest, -1);

    terminal->send("l05x");
    Settle();
    Tick(2);
    EXPECT_EQ(e->nLoadFileRequest, -1);
}

TEST_F(Relay, ManualSendPutsExactlyTheTypedBytesOnEachSide) {
    OpenBothByLamps();
    PausePump();
    Settle();
    terminal->takeReceived();
    host->takeReceived();
    e->SendToTerminal("1b 77 63");
    EXPECT_EQ(terminal->readFor(100), Bytes({0x1B, 0x77, 0x63}));
    e->SendToHost("00FF 0d");
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), Bytes({0xFF, 0x0D}));
    // A bad line sends nothing, on both buttons alike.
    e->SendToTerminal("1b  77");
    e->SendToHost("100");
    EXPECT_TRUE(terminal->readFor(100).empty());
    EXPECT_TRUE(host->received().empty());
    EXPECT_TRUE(e->sToHost.empty());
    EXPECT_TRUE(e->sToTerminal.empty());
}

TEST_F(Relay, ManualSendToADownLinkSendsNothing) {
    e->SendToTerminal("0D");
    e->SendToHost("0D");
    EXPECT_TRUE(terminal->readFor(100).empty());
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(host->connectionCount(), 0);
}
