// Opening and closing the host connection: its lamp, its wait, and what may not reach it.
#include <chrono>
#include <functional>
#include <memory>

#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

class HostLink : public BridgeTest {
  protected:
    // Runs one of the link routines to its end, as its own task of the engine.
    bool Complete(std::function<asio::awaitable<void>()> routine) {
        return Await([&](std::function<void()> done) {
            e->Spawn([routine, done]() -> asio::awaitable<void> {
                co_await routine();
                done();
            });
        });
    }
    bool DoubleClickSSL() {
        return Complete([this] { return status_SSL_DblClick(*e); });
    }
};

TEST_F(HostLink, OpenHostWhileConnectedClosesFirstThenReopensWithTheLoginKey) {
    OpenBothByLamps();
    PausePump();  // the key stays in sToHost for the test to see
    e->Show().loginMode = "next";
    ASSERT_TRUE(Complete([this] { return OpenHost(*e); }));
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_TRUE(Run([this] { return host->connectionCount() == 2; }));
    EXPECT_EQ(e->View().milestone, "D");
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampUp);
    EXPECT_EQ(e->sToHost, "\r");
}

TEST_F(HostLink, CloseHostWhenNotConnectedChangesNothing) {
    e->sToHost = "a";
    e->sToTerminal = "b";
    e->Show().milestone = "C";
    ASSERT_TRUE(Complete([this] { return CloseHost(*e); }));
    EXPECT_EQ(e->sToHost, "a");
    EXPECT_EQ(e->sToTerminal, "b");
    EXPECT_EQ(e->View().milestone, "C");
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampDown);
}

TEST_F(HostLink, AHostThatClosesLeavesTheLampGreenAndDoubleClicksChangeNothing) {
    OpenBothByLamps();
    host->closeConnection();
    ASSERT_TRUE(Run([this] { return !IsHostConnected(*e); }));
    Settle(50);
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampUp);
    EXPECT_EQ(e->View().milestone, "D");
    ASSERT_TRUE(DoubleClickSSL());
    ASSERT_TRUE(DoubleClickSSL());
    Settle(50);
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampUp);
    EXPECT_EQ(host->connectionCount(), 1);
}

TEST_F(HostLink, NothingListeningGivesARedLampALogLineAndAPromptReturn) {
    e->SetLogToFile(true);
    const std::uint16_t deadPort = host->port();
    host.reset();  // nothing listens there any more
    ChooseHost(*e, "Ludric", deadPort);
    e->Show().milestone = "C";
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(DoubleClickSSL());
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(kHostWaitMs / 2));
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampDown);
    EXPECT_EQ(e->View().milestone, "C");
    EXPECT_NE(e->View().commPane.find(std::to_string(deadPort)), std::string::npos);
    EXPECT_FALSE(e->bOpeningHost);  // a later open is not refused
}

TEST_F(HostLink, AnUnusablePortFieldIsNotConnectedToAndTheReasonIsLogged) {
    e->SetLogToFile(true);
    e->ChooseSystem("broken:127.0.0.1:70000");
    ASSERT_TRUE(Complete([this] { return OpenHost(*e); }));
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampDown);
    EXPECT_NE(e->View().commPane.find("70000"), std::string::npos);
    EXPECT_EQ(host->connectionCount(), 0);
}

TEST_F(HostLink, ASecondOpenHostWhileOneWaitsDoesNothing) {
    auto first = std::make_shared<bool>(false);
    e->Spawn([this, first]() -> asio::awaitable<void> {
        co_await OpenHost(*e);
        *first = true;
    });
    ASSERT_TRUE(Run([this] { return e->bOpeningHost; }));
    // A second open while the first waits returns at once and leaves the first to it.
    ASSERT_TRUE(Complete([this] { return OpenHost(*e); }));
    EXPECT_FALSE(*first);
    EXPECT_TRUE(e->bOpeningHost);
    ASSERT_TRUE(Run([first] { return *first; }));
    EXPECT_TRUE(IsHostConnected(*e));
    Settle(100);
    EXPECT_EQ(host->connectionCount(), 1);
}

// The lamp stays red while the open waits: a second double-click on it must not start a
// second connection beside the first.
TEST_F(HostLink, ASecondDoubleClickDuringTheOpensWaitStartsNoSecondConnection) {
    e->LampDoubleClick(true);
    ASSERT_TRUE(Run([this] { return e->bOpeningHost; }));
    ASSERT_EQ(LinkLampColor(*e, "SSL"), LampDown);
    e->LampDoubleClick(true);
    e->LampDoubleClick(true);
    ASSERT_TRUE(Run([this] { return LinkLampColor(*e, "SSL") == LampUp; }));
    Settle(200);
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampUp);
    EXPECT_EQ(e->View().milestone, "D");
    EXPECT_EQ(host->connectionCount(), 1);
    EXPECT_TRUE(host->connected());
}
