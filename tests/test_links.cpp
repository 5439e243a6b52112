// Opening and closing the terminal port and the lamps of both links.
#include <sys/ioctl.h>

#include <functional>
#include <memory>

#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

class Links : public BridgeTest {
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
    bool OpenPort() {
        return Complete([this] { return OpenTerminalPort(*e); });
    }
    // A double-click on a lamp, run to its end.
    bool DoubleClick(bool ssl) {
        return Complete(
            [this, ssl] { return ssl ? status_SSL_DblClick(*e) : status_RS232_DblClick(*e); });
    }

    std::size_t Count(const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1))
            ++n;
        return n;
    }
};

TEST_F(Links, LampsOpenAndCloseTheirLinks) {
    e->LampDoubleClick(false);
    ASSERT_TRUE(Run([this] { return IsTerminalPortOpen(*e); }));
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampUp);
    EXPECT_FALSE(e->View().startEnabled);
    EXPECT_TRUE(e->View().stopEnabled);
    EXPECT_FALSE(e->View().portEntryEnabled);
    EXPECT_EQ(e->View().milestone, "A");
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");

    e->LampDoubleClick(true);
    ASSERT_TRUE(Run([this] { return LinkLampColor(*e, "SSL") == LampUp; }));
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_EQ(e->View().milestone, "D");
    EXPECT_TRUE(host->waitForConnection(5000));

    e->LampDoubleClick(true);
    ASSERT_TRUE(Run([this] { return LinkLampColor(*e, "SSL") == LampDown; }));
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_EQ(e->View().milestone, "A");
    EXPECT_TRUE(host->waitForDisconnect(5000));

    e->LampDoubleClick(false);
    ASSERT_TRUE(Run([this] { return !IsTerminalPortOpen(*e); }));
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampDown);
    EXPECT_TRUE(e->View().startEnabled);
    EXPECT_FALSE(e->View().stopEnabled);
    EXPECT_TRUE(e->View().portEntryEnabled);
    EXPECT_EQ(e->View().milestone, "");
}

TEST_F(Links, APortThatCannotBeOpenedShowsTheMessageAndStaysRed) {
    e->ChoosePortEntry("com97:2400,e,7,1");
    ASSERT_TRUE(DoubleClick(false));
    EXPECT_EQ(messages(), std::vector<std::string>{"Can't open com97:2400,e,7,1"});
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampDown);
    EXPECT_TRUE(e->View().startEnabled);

    recorder.messages.clear();
    e->ChoosePortEntry("com1:2400,q,7,1");
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(messages(), std::vector<std::string>{"Can't open com1:2400,q,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*e));

    recorder.messages.clear();
    e->ChoosePortEntry("serial");
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(messages(), std::vector<std::string>{"Can't open com0:"});
}

TEST_F(Links, ATypedEntryOpensItsPortWithExactlyItsSettings) {
    rig::PtyTerminal third(io, dir.path(), 3);
    e->ChoosePortEntry("com3:9600,n,8,1");
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(IsTerminalPortOpen(*e)) << recorder.joined();
    EXPECT_EQ(e->Comm.CommPort(), 3);
    EXPECT_EQ(e->Comm.Settings(), "9600,n,8,1");
    e->Comm.Output("x");
    EXPECT_EQ(third.readFor(100), "x");
    // Opening again while open skips the component but resets milestone and login mode.
    e->Show().milestone = "C";
    e->Show().loginMode = "next";
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(e->View().milestone, "A");
    EXPECT_EQ(e->View().loginMode, "");
    EXPECT_TRUE(messages().empty());
    CloseTerminalPort(*e);  // before the third terminal goes
}

TEST_F(Links, ClosingAClosedPortStillResetsTheClosedState) {
    e->sToHost = "a";
    e->sToTerminal = "b";
    e->Show().milestone = "C";
    CloseTerminalPort(*e);
    EXPECT_TRUE(e->sToHost.empty());
    EXPECT_TRUE(e->sToTerminal.empty());
    EXPECT_EQ(e->View().milestone, "");
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampDown);
    EXPECT_TRUE(e->View().startEnabled);
}

TEST_F(Links, AClearToSendChangeWithTheHostUpClosesTheHostLink) {
    auto lines = std::make_shared<int>(0);  // TIOCM bits the fake line reader reports
    e->Comm.setModemLineReader([lines](int) { return *lines; });
    OpenBothByLamps();
    e->sToHost = "queued";
    e->sToTerminal = "queued";
    *lines = TIOCM_CTS;
    ASSERT_TRUE(Run([this] { return !IsHostConnected(*e); }));
    ASSERT_TRUE(Run([this] { return LinkLampColor(*e, "SSL") == LampDown; }));
    EXPECT_EQ(e->View().milestone, "A");
    EXPECT_TRUE(e->sToHost.empty());
    // The serial port itself stays open, its lamp green.
    EXPECT_TRUE(IsTerminalPortOpen(*e));
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampUp);

    // With the host down only the buffers and the milestone change.
    e->Show().milestone = "C";
    e->sToTerminal = "x";
    *lines = 0;
    ASSERT_TRUE(Run([this] { return e->View().milestone == "A"; }));
    EXPECT_TRUE(e->sToTerminal.empty());
    EXPECT_EQ(host->connectionCount(), 1);
}

TEST_F(Links, APortThatVanishesIsTreatedAsClosedAndLoggedOnce) {
    e->SetLogToFile(true);
    auto logged = std::make_shared<std::vector<std::string>>();
    e->CommLogSink = [logged](const std::string& line) { logged->push_back(line); };
    OpenBothByLamps();
    terminal->hangUp();
    ASSERT_TRUE(Run([this] { return LinkLampColor(*e, "RS232") == LampDown; }));
    Settle(300);  // the pump keeps running: no storm of errors, no second report
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_TRUE(e->View().startEnabled);
    EXPECT_FALSE(e->View().stopEnabled);
    EXPECT_TRUE(e->View().portEntryEnabled);
    EXPECT_EQ(Count(e->View().commPane, "lost"), 1u);
    std::size_t lostLines = 0;
    for (const std::string& line : *logged) lostLines += Count(line, "lost");
    EXPECT_EQ(lostLines, 1u);
    // The host link is untouched and the bridge keeps answering.
    EXPECT_TRUE(IsHostConnected(*e));
    host->send("still here");
    Settle(100);
    EXPECT_TRUE(e->sToTerminal.empty());  // dropped for the closed port, 25 a tick
}

TEST_F(Links, AFirstKeyDC1IsReplayedOnAManualConnectAndForgottenOnReopen) {
    ASSERT_TRUE(DoubleClick(false));
    PausePump();
    clock += 5;
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();
    ASSERT_EQ(e->View().loginMode, "stop1");
    ASSERT_TRUE(DoubleClick(true));
    ASSERT_TRUE(host->waitForConnection(5000));
    Tick();
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), Bytes({0x11}));

    // Closing and reopening the terminal port forgets the key.
    ASSERT_TRUE(DoubleClick(true));
    CloseTerminalPort(*e);
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(e->View().loginMode, "");
    ASSERT_TRUE(DoubleClick(true));
    ASSERT_TRUE(IsHostConnected(*e));
    EXPECT_TRUE(e->sToHost.empty());
}
