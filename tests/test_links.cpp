// Opening and closing both links: the terminal port, the host connection and their lamps.
#include <qtestspontaneevent.h>
#include <sys/ioctl.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWindow>

#include "links/host_socket.h"
#include "links/serial_port.h"
#include "logs/comm_log.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

using Links = BridgeTest;

namespace {

// A close as the window manager's arrives: spontaneous, at the window's platform window
// (posted events are the queue's to delete).
QCloseEvent* WindowManagerClose() {
    auto* close = new QCloseEvent;
    QSpontaneKeyEvent::setSpontaneous(close);
    return close;
}

QList<QMessageBox*> BoxesShown() {
    QList<QMessageBox*> shown;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) shown << box;
    return shown;
}

}  // namespace

TEST_F(Links, LampsOpenAndCloseTheirLinks) {
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    EXPECT_TRUE(IsTerminalPortOpen(*w));
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampUp);
    EXPECT_FALSE(w->b_start->isEnabled());
    EXPECT_TRUE(w->b_stop->isEnabled());
    EXPECT_FALSE(w->c_ports->isEnabled());
    EXPECT_EQ(w->l_milestone->text(), "A");
    EXPECT_EQ(w->Comm->Settings(), "2400,e,7,1");

    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    EXPECT_TRUE(IsHostConnected(*w));
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampUp);
    EXPECT_EQ(w->l_milestone->text(), "D");
    EXPECT_TRUE(host->waitForConnection(5000));

    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampDown);
    EXPECT_EQ(w->l_milestone->text(), "A");
    EXPECT_TRUE(host->waitForDisconnect(5000));

    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_FALSE(w->b_stop->isEnabled());
    EXPECT_TRUE(w->c_ports->isEnabled());
    EXPECT_EQ(w->l_milestone->text(), "");
}

TEST_F(Links, APortThatCannotBeOpenedShowsTheMessageAndStaysRed) {
    w->c_ports->setEditText("com97:2400,e,7,1");
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    EXPECT_EQ(messages, QStringList{"Can't open com97:2400,e,7,1"});
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_TRUE(w->b_start->isEnabled());

    messages.clear();
    w->c_ports->setEditText("com1:2400,q,7,1");
    OpenTerminalPort(*w);
    EXPECT_EQ(messages, QStringList{"Can't open com1:2400,q,7,1"});
    EXPECT_FALSE(IsTerminalPortOpen(*w));

    messages.clear();
    w->c_ports->setEditText("serial");
    OpenTerminalPort(*w);
    EXPECT_EQ(messages, QStringList{"Can't open com0:"});
}

TEST_F(Links, ATypedEntryOpensItsPortWithExactlyItsSettings) {
    rig::PtyTerminal third(dir.path(), 3);
    w->c_ports->setEditText("com3:9600,n,8,1");
    OpenTerminalPort(*w);
    ASSERT_TRUE(IsTerminalPortOpen(*w)) << messages.join('\n').toStdString();
    EXPECT_EQ(w->Comm->CommPort(), 3);
    EXPECT_EQ(w->Comm->Settings(), "9600,n,8,1");
    w->Comm->Output("x");
    EXPECT_EQ(third.readFor(100), "x");
    // Opening again while open skips the component but resets milestone and login mode.
    w->l_milestone->setText("C");
    w->l_loginMode->setText("next");
    OpenTerminalPort(*w);
    EXPECT_EQ(w->l_milestone->text(), "A");
    EXPECT_EQ(w->l_loginMode->text(), "");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Links, ClosingAClosedPortStillResetsTheClosedState) {
    w->sToHost = "a";
    w->sToTerminal = "b";
    w->l_milestone->setText("C");
    CloseTerminalPort(*w);
    EXPECT_TRUE(w->sToHost.isEmpty());
    EXPECT_TRUE(w->sToTerminal.isEmpty());
    EXPECT_EQ(w->l_milestone->text(), "");
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampDown);
    EXPECT_TRUE(w->b_start->isEnabled());
}

TEST_F(Links, AClearToSendChangeWithTheHostUpClosesTheHostLink) {
    int lines = 0;  // TIOCM bits the fake line reader reports
    w->Comm->setModemLineReader([&lines](int) { return lines; });
    OpenBothByLamps();
    w->sToHost = "queued";
    w->sToTerminal = "queued";
    lines = TIOCM_CTS;
    ASSERT_TRUE(rig::RunUntil([&] { return !IsHostConnected(*w); }, 5000));
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampDown);
    EXPECT_EQ(w->l_milestone->text(), "A");
    EXPECT_TRUE(w->sToHost.isEmpty());
    // The serial port itself stays open, its lamp green.
    EXPECT_TRUE(IsTerminalPortOpen(*w));
    EXPECT_EQ(LinkLampColor(*w, "RS232"), LampUp);

    // With the host down only the buffers and the milestone change.
    w->l_milestone->setText("C");
    w->sToTerminal = "x";
    lines = 0;
    ASSERT_TRUE(rig::RunUntil([&] { return w->l_milestone->text() == "A"; }, 5000));
    EXPECT_TRUE(w->sToTerminal.isEmpty());
    EXPECT_EQ(host->connectionCount(), 1);
}

TEST_F(Links, APortThatVanishesIsTreatedAsClosedAndLoggedOnce) {
    w->x_log->setChecked(true);
    OpenBothByLamps();
    terminal->hangUp();
    ASSERT_TRUE(rig::RunUntil([&] { return LinkLampColor(*w, "RS232") == LampDown; }, 5000));
    rig::RunFor(300);  // the pump keeps running: no storm of errors, no second report
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_FALSE(w->b_stop->isEnabled());
    EXPECT_TRUE(w->c_ports->isEnabled());
    EXPECT_EQ(w->t_CommLog->toPlainText().count("lost"), 1);
    // The host link is untouched and the bridge keeps answering.
    EXPECT_TRUE(IsHostConnected(*w));
    host->send("still here");
    rig::RunFor(100);
    EXPECT_TRUE(w->sToTerminal.isEmpty());  // dropped for the closed port, 25 a tick
}

TEST_F(Links, OpenHostWhileConnectedClosesFirstThenReopensWithTheLoginKey) {
    OpenBothByLamps();
    w->l_loginMode->setText("next");
    OpenHost(*w);
    EXPECT_TRUE(IsHostConnected(*w));
    EXPECT_EQ(host->connectionCount(), 2);
    EXPECT_EQ(w->l_milestone->text(), "D");
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampUp);
    EXPECT_EQ(w->sToHost, QByteArray("\x0D", 1));
}

TEST_F(Links, AFirstKeyDC1IsReplayedOnAManualConnectAndForgottenOnReopen) {
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    PausePump();
    clock += 5;
    terminal->send(Bytes({0x11}));
    Settle();
    Tick();
    ASSERT_EQ(w->l_loginMode->text(), "stop1");
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(host->waitForConnection(5000));
    Tick();
    ASSERT_TRUE(host->waitForBytes(1, 5000));
    EXPECT_EQ(host->takeReceived(), Bytes({0x11}));

    // Closing and reopening the terminal port forgets the key.
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    CloseTerminalPort(*w);
    OpenTerminalPort(*w);
    EXPECT_EQ(w->l_loginMode->text(), "");
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(IsHostConnected(*w));
    EXPECT_TRUE(w->sToHost.isEmpty());
}

TEST_F(Links, CloseHostWhenNotConnectedChangesNothing) {
    w->sToHost = "a";
    w->sToTerminal = "b";
    w->l_milestone->setText("C");
    CloseHost(*w);
    EXPECT_EQ(w->sToHost, "a");
    EXPECT_EQ(w->sToTerminal, "b");
    EXPECT_EQ(w->l_milestone->text(), "C");
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampDown);
}

TEST_F(Links, AHostThatClosesLeavesTheLampGreenAndDoubleClicksChangeNothing) {
    OpenBothByLamps();
    host->closeConnection();
    ASSERT_TRUE(rig::RunUntil([&] { return !IsHostConnected(*w); }, 5000));
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampUp);
    EXPECT_EQ(w->l_milestone->text(), "D");
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampUp);
    EXPECT_EQ(host->connectionCount(), 1);
}

TEST_F(Links, NothingListeningGivesARedLampALogLineAndAPromptReturn) {
    w->x_log->setChecked(true);
    const quint16 deadPort = host->port();
    host.reset();  // nothing listens there any more
    ChooseHost(*w, "Ludric", deadPort);
    w->l_milestone->setText("C");
    QElapsedTimer took;
    took.start();
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    EXPECT_LT(took.elapsed(), kHostWaitMs / 2);
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampDown);
    EXPECT_EQ(w->l_milestone->text(), "C");
    EXPECT_TRUE(w->t_CommLog->toPlainText().contains(QString::number(deadPort)));
}

TEST_F(Links, AnUnusablePortFieldIsNotConnectedToAndTheReasonIsLogged) {
    w->x_log->setChecked(true);
    w->cboSystem->addItem("broken:127.0.0.1:70000");
    w->cboSystem->setCurrentIndex(w->cboSystem->count() - 1);
    cboSystem_Click(*w);
    OpenHost(*w);
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_EQ(LinkLampColor(*w, "SSL"), LampDown);
    EXPECT_TRUE(w->t_CommLog->toPlainText().contains("70000"));
    EXPECT_EQ(host->connectionCount(), 0);
}

TEST_F(Links, ASecondOpenHostWhileOneWaitsDoesNothing) {
    bool nested = false;
    // The double-click on the still red lamp arrives while the first open waits.
    QTimer::singleShot(0, w.get(), [&] {
        nested = true;
        OpenHost(*w);
    });
    OpenHost(*w);
    EXPECT_TRUE(nested);
    EXPECT_TRUE(IsHostConnected(*w));
    rig::RunFor(100);
    EXPECT_EQ(host->connectionCount(), 1);
}

// The toolkit drops a window manager's close that reaches a window a modal box blocks: the
// port's box must not block the window, yet hold back the operator's other input.
TEST_F(Links, ACloseWhileThePortsBoxIsUpEndsTheBoxAndStopsLikeAnyClose) {
    SetMessageHandler({});
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(host->waitForConnection(5000));
    w->c_ports->setEditText("com96:2400,e,7,1");
    bool sawBox = false;
    QTimer::singleShot(100, w.get(), [&] {
        const QList<QMessageBox*> boxes = BoxesShown();
        ASSERT_EQ(boxes.size(), 1);
        sawBox = true;
        EXPECT_EQ(boxes[0]->text(), "Can't open com96:2400,e,7,1");
        EXPECT_EQ(boxes[0]->parentWidget(), w.get());
        EXPECT_EQ(QGuiApplication::modalWindow(), nullptr) << "a close would be dropped";
        // Typing and double-clicks elsewhere wait for the box's answer.
        QTest::keyClicks(w->t_blockdelay, "9");
        QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
        EXPECT_EQ(w->t_blockdelay->text(), "385");
        EXPECT_TRUE(IsHostConnected(*w));
        const std::unique_ptr<QCloseEvent> close(WindowManagerClose());
        QCoreApplication::sendEvent(w->windowHandle(), close.get());
    });
    // Should the close not end the box, this does, so that the test ends.
    QTimer::singleShot(5000, w.get(), [] {
        for (QMessageBox* box : BoxesShown()) box->reject();
    });
    w->b_start->click();
    EXPECT_TRUE(sawBox);
    EXPECT_TRUE(BoxesShown().isEmpty());
    EXPECT_TRUE(w->bUnloaded);
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    // The stop's state, not the start's, is what the window keeps.
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_TRUE(w->t_blockdelay->isEnabled());
    EXPECT_FALSE(IsTerminalPortOpen(*w));
}

// Two closes queued behind the stop button reach the window inside the stop's own CloseHost:
// the first stops and unloads, the second finds it closing.
TEST_F(Links, TwoClosesDuringTheStopsCloseHostUnloadOnce) {
    OpenBothByLamps();
    QCoreApplication::postEvent(w->windowHandle(), WindowManagerClose());
    QCoreApplication::postEvent(w->windowHandle(), WindowManagerClose());
    w->b_stop->click();
    EXPECT_TRUE(w->bUnloaded);
    EXPECT_FALSE(w->sTimer->isActive());
    EXPECT_FALSE(IsTerminalPortOpen(*w));
    EXPECT_FALSE(IsHostConnected(*w));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    EXPECT_EQ(host->connectionCount(), 1);
}
