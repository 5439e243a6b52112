// The relay pump and the host data path, between a real pty and a real loopback host.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "links/host_socket.h"
#include "links/serial_port.h"
#include "relay/host_data.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

using Relay = BridgeTest;

TEST_F(Relay, EveryByteTypedReachesTheHostUnchangedOneTickLate) {
    OpenBothByLamps();
    PausePump();
    Settle();
    host->takeReceived();
    terminal->send(AllByteValues());
    Settle();
    Tick();
    EXPECT_EQ(w->sToHost, AllByteValues());  // read in this tick, sent in the next
    Settle();
    EXPECT_TRUE(host->received().isEmpty());
    Tick();
    EXPECT_TRUE(w->sToHost.isEmpty());
    ASSERT_TRUE(host->waitForBytes(256, 5000));
    EXPECT_EQ(host->takeReceived(), AllByteValues());
}

TEST_F(Relay, InputWhileTheHostIsDownIsConsumedAndDropped) {
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_TRUE(IsTerminalPortOpen(*w));
    PausePump();
    terminal->send("hello");
    Settle();
    Tick(2);
    EXPECT_TRUE(w->sToHost.isEmpty());
    EXPECT_EQ(w->Comm->InBufferCount(), 0);
    // Connecting later does not bring the old input back.
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(host->waitForConnection(5000));
    Tick(3);
    Settle(100);
    EXPECT_TRUE(host->received().isEmpty());
}

TEST_F(Relay, LargeTerminalInputIsRelayedWholeAndInOrder) {
    OpenBothByLamps();
    QByteArray big;
    for (int i = 0; i < 200000; ++i) big.append(static_cast<char>((i * 7 + i / 256) & 0xFF));
    terminal->send(big);
    ASSERT_TRUE(host->waitForBytes(big.size(), 20000));
    EXPECT_EQ(host->takeReceived(), big);
}

TEST_F(Relay, HostDataGoesToTheTerminal25CharactersPerTick) {
    OpenBothByLamps();
    PausePump();
    Settle();
    terminal->takeReceived();
    w->sToTerminal = QByteArray(60, 'x');
    Tick();
    EXPECT_EQ(terminal->readFor(50).size(), 25);
    Tick();
    EXPECT_EQ(terminal->readFor(50).size(), 25);
    Tick();
    EXPECT_EQ(terminal->readFor(50).size(), 10);
    Tick();
    EXPECT_TRUE(terminal->readFor(50).isEmpty());
}

TEST_F(Relay, MoreThan64KiBFromTheHostReachTheTerminalWholeAndInOrder) {
    OpenBothByLamps();
    QByteArray big;
    for (int i = 0; i < 100000; ++i) big.append(static_cast<char>((i * 13 + 5) & 0xFF));
    big.replace('\xFF', '\xFE');  // the pair rule is tested on its own below
    host->send(big);
    ASSERT_TRUE(terminal->waitForBytes(big.size(), 60000));
    EXPECT_EQ(terminal->takeReceived(), big);
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

    w->l_host->setText("novanet");
    host->send(Bytes({0xFF, 0x41, 0xFF, 0xFF}));
    Settle(100);
    Tick(2);
    EXPECT_EQ(terminal->readFor(50), Bytes({0xFF, 0x41, 0xFF, 0xFF}));
}

TEST_F(Relay, APendingFFSurvivesAnEventWithoutFF) {
    w->l_host->setText("cyber1");
    SSL_DataIn(*w, Bytes({0x41, 0xFF}), false);
    EXPECT_EQ(w->sToTerminal, Bytes({0x41}));
    SSL_DataIn(*w, Bytes({0xFF, 0x42}), false);
    EXPECT_EQ(w->sToTerminal, Bytes({0x41, 0xFF, 0x42}));
    w->sToTerminal.clear();
    SSL_DataIn(*w, Bytes({0x43, 0xFF}), false);
    SSL_DataIn(*w, Bytes({0x44}), false);  // no 0xFF: appended as it came, still pending
    SSL_DataIn(*w, Bytes({0xFF, 0x45}), false);
    EXPECT_EQ(w->sToTerminal, Bytes({0x43, 0x44, 0xFF, 0x45}));
    // Letter case matters: "NovaNet" is another system.
    w->sToTerminal.clear();
    w->l_host->setText("NovaNet");
    SSL_DataIn(*w, Bytes({0xFF, 0x41}), false);
    EXPECT_EQ(w->sToTerminal, Bytes({0x41}));
}

TEST_F(Relay, ALoneDC1AfterAQuietSecondFlushesPendingHostOutput) {
    OpenBothByLamps();
    PausePump();
    Settle();
    terminal->takeReceived();
    w->sToTerminal = QByteArray(100, 'y');
    clock += 5;
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();  // writes 25, reads the 0x11 and sets the flush
    EXPECT_TRUE(w->bFlushToTerminal);
    // The terminal takes the first slice off the line before the next tick; the flush would
    // also discard what the line had not sent yet.
    EXPECT_EQ(terminal->readFor(50).size(), 25);
    Tick();  // writes one more slice and drops the rest
    EXPECT_TRUE(w->sToTerminal.isEmpty());
    EXPECT_EQ(terminal->readFor(50).size(), 25);
    Tick(3);
    EXPECT_TRUE(terminal->readFor(50).isEmpty());
}

TEST_F(Relay, TheFirstKeyAfterAQuietSecondSetsMilestoneAndLoginMode) {
    OpenBothByLamps();
    // The host connection made the milestone "D"; a closed and reopened port starts at "A".
    PausePump();
    CloseTerminalPort(*w);
    OpenTerminalPort(*w);
    ASSERT_EQ(w->l_milestone->text(), "A");
    ASSERT_EQ(w->l_loginMode->text(), "");

    clock += 3;
    terminal->send(Bytes({0x0D, 0x0D}));  // two characters in one read: not a first key
    Settle();
    Tick();
    EXPECT_EQ(w->l_milestone->text(), "A");

    clock += 3;
    terminal->send(Bytes({0x0D}));
    Settle();
    Tick();
    EXPECT_EQ(w->l_milestone->text(), "C");
    EXPECT_EQ(w->l_loginMode->text(), "next");
}

TEST_F(Relay, InputInTheSameSecondIsRelayedButNotInspected) {
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    PausePump();
    terminal->send("a");
    Settle();
    Tick();  // stamps the read
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();  // same clock second
    EXPECT_FALSE(w->bFlushToTerminal);
    EXPECT_EQ(w->l_milestone->text(), "A");
    EXPECT_EQ(w->l_loginMode->text(), "");
    EXPECT_EQ(w->sToHost, Bytes({0x11}));

    clock += 1;
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();
    EXPECT_TRUE(w->bFlushToTerminal);
    EXPECT_EQ(w->l_milestone->text(), "C");
    EXPECT_EQ(w->l_loginMode->text(), "stop1");
}

TEST_F(Relay, ALoadFileRequestIsRecognisedOnlyInOneRead) {
    OpenBothByLamps();
    PausePump();
    Settle();
    host->takeReceived();
    w->nLoadFileRequest = -1;
    terminal->send("L05x");
    Settle();
    Tick(2);
    EXPECT_EQ(w->nLoadFileRequest, 5);
    ASSERT_TRUE(host->waitForBytes(4, 5000));
    EXPECT_EQ(host->takeReceived(), "L05x");  // still relayed

    w->nLoadFileRequest = -1;
    terminal->send("L0");
    Settle();
    Tick();
    terminal->send("5x");
    Settle();
    Tick(2);
    EXPECT_EQ(w->nLoadFileRequest, -1);

    terminal->send("l05x");
    Settle();
    Tick(2);
    EXPECT_EQ(w->nLoadFileRequest, -1);
}

TEST_F(Relay, ManualSendPutsExactlyTheTypedBytesOnEachSide) {
    OpenBothByLamps();
    PausePump();
    Settle();
    terminal->takeReceived();
    host->takeReceived();
    w->t_term->setText("1b 77 63");
    w->b_term->click();
    EXPECT_EQ(terminal->readFor(100), Bytes({0x1B, 0x77, 0x63}));
    w->t_host->setText("00FF 0d");
    w->b_host->click();
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), Bytes({0xFF, 0x0D}));
    // A bad line sends nothing, on both buttons alike.
    w->t_term->setText("1b  77");
    w->b_term->click();
    w->t_host->setText("100");
    w->b_host->click();
    EXPECT_TRUE(terminal->readFor(100).isEmpty());
    EXPECT_TRUE(host->received().isEmpty());
    EXPECT_TRUE(w->sToHost.isEmpty());
    EXPECT_TRUE(w->sToTerminal.isEmpty());
}

TEST_F(Relay, ManualSendToADownLinkSendsNothing) {
    w->t_term->setText("0D");
    w->b_term->click();
    w->b_host->click();
    EXPECT_TRUE(terminal->readFor(100).isEmpty());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(host->connectionCount(), 0);
}
