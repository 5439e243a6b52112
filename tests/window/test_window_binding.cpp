// The window as a view of the engine: an engine value shows in its control, an operator action
// reaches the engine, the port's message box holds the engine's routine until it is answered,
// and a close runs the stop first and ends the program.
#include <qtestspontaneevent.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "app/up_down.h"
#include "tests/window/window_fixture.h"

using namespace corvane;
using corvane::testing::WindowTest;

using Binding = WindowTest;

namespace {

// A close as the window manager's arrives: spontaneous, at the window's platform window.
void WindowManagerClose(WHost& w) {
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    QCoreApplication::sendEvent(w.windowHandle(), &close);
}

QList<QMessageBox*> BoxesShown() {
    QList<QMessageBox*> shown;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) shown << box;
    return shown;
}

}  // namespace

TEST_F(Binding, EveryValueOfTheEnginesViewShowsInItsControl) {
    w->Channel().Post([](Engine& e) {
        EngineView& v = e.Show();
        v.milestone = "C";
        v.loginMode = "stop1";
        v.lampRS232 = LampUp;
        v.lampSSL = LampUp;
        v.statusLine = "LOADING FILE 02 BLOCK 03 BYTE 0300";
        v.statusLineEnabled = true;
        v.chunkDelayEnabled = false;
        v.portEntryEnabled = false;
        v.startEnabled = false;
        v.stopEnabled = true;
        v.hostName = "Ludric";
        v.hostUrl = "localhost";
        v.hostSocket = "8105";
        v.terminalKind = "IST-III";
        v.commPane = "00  \xc3\xb9 first\r\n00  \xc3\xb9 second\r\n";
        v.dataPane = "\xc3\xb9\xc3\xb9\r\n\xc3\xb9\xc3\xb9\r\n";
        e.Publish();
    });
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->l_milestone->text(), "C");
    EXPECT_EQ(w->l_loginMode->text(), "stop1");
    EXPECT_TRUE(Green(w->status_RS232));
    EXPECT_TRUE(Green(w->status_SSL));
    EXPECT_EQ(w->label[3]->text(), "LOADING FILE 02 BLOCK 03 BYTE 0300");
    EXPECT_TRUE(w->label[3]->isEnabled());
    EXPECT_FALSE(w->label[11]->isEnabled());
    EXPECT_FALSE(w->t_blockdelay->isEnabled());
    EXPECT_FALSE(w->ud_blockdelay->isEnabled());
    EXPECT_FALSE(w->c_ports->isEnabled());
    EXPECT_FALSE(w->b_start->isEnabled());
    EXPECT_TRUE(w->b_stop->isEnabled());
    EXPECT_EQ(w->l_host->text(), "Ludric");
    EXPECT_EQ(w->l_url->text(), "localhost");
    EXPECT_EQ(w->l_socket->text(), "8105");
    EXPECT_EQ(w->l_terminal->text(), "IST-III");
    EXPECT_EQ(w->t_CommLog->toPlainText().count(QStringLiteral("00  \u00f9 ")), 2);
    EXPECT_TRUE(w->t_CommLog->toPlainText().contains("second"));
    EXPECT_EQ(w->t_DataLog->toPlainText().count(QStringLiteral("\u00f9\u00f9")), 2);
    // New pane text leaves the monitor panel as the toggle left it.
    EXPECT_TRUE(w->t_CommLog->isHidden());
    EXPECT_TRUE(w->t_DataLog->isHidden());

    // And back: the start state again.
    w->Channel().Post([](Engine& e) {
        e.Show() = EngineView{};
        e.Publish();
    });
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_TRUE(Red(w->status_RS232));
    EXPECT_TRUE(Red(w->status_SSL));
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_FALSE(w->label[3]->isEnabled());
    EXPECT_TRUE(w->t_blockdelay->isEnabled());
    EXPECT_TRUE(w->c_ports->isEnabled());
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_FALSE(w->b_stop->isEnabled());
    EXPECT_TRUE(w->t_CommLog->toPlainText().isEmpty());
    EXPECT_TRUE(w->l_milestone->text().isEmpty());
}

TEST_F(Binding, StartAndStopReachTheEngineAndTheLampsFollow) {
    WithLinks();
    w->chkIsResidentLoaded->setChecked(true);
    w->b_start->click();
    ASSERT_TRUE(Until([this] { return Green(w->status_RS232); }));
    EXPECT_TRUE(PortOpen());
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), "\r\r");
    ASSERT_TRUE(Until([this] { return Green(w->status_SSL) && w->l_milestone->text() == "D"; }));
    EXPECT_TRUE(HostConnected());
    EXPECT_FALSE(w->b_start->isEnabled());
    EXPECT_TRUE(w->b_stop->isEnabled());
    EXPECT_FALSE(w->c_ports->isEnabled());
    EXPECT_TRUE(w->label[3]->isEnabled());
    EXPECT_EQ(w->l_loginMode->text(), "next");

    // The bridge runs both ways behind the window.
    terminal->send("hello");
    ASSERT_TRUE(host->waitForBytes(5, 5000));
    EXPECT_EQ(host->takeReceived(), "hello");
    host->send("world");
    ASSERT_TRUE(terminal->waitForBytes(5, 5000));
    EXPECT_EQ(terminal->takeReceived(), "world");

    w->b_stop->click();
    ASSERT_TRUE(Until([this] { return Red(w->status_RS232) && Red(w->status_SSL); }));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    EXPECT_FALSE(PortOpen());
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_FALSE(w->b_stop->isEnabled());
    EXPECT_TRUE(w->c_ports->isEnabled());
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_TRUE(w->t_blockdelay->isEnabled());
}

TEST_F(Binding, LampDoubleClicksAndTheSendRowsReachTheEngine) {
    WithLinks();
    rig::PtyTerminal third(io, Dir(), 3);
    w->c_ports->setEditText("com3:9600,n,8,1");  // a typed entry opens its own port
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_TRUE(Until([this] { return Green(w->status_RS232); }));
    EXPECT_EQ(Ask([](Engine& e) { return e.Comm.CommPort(); }), 3);
    EXPECT_EQ(Ask([](Engine& e) { return e.Comm.Settings(); }), "9600,n,8,1");
    EXPECT_EQ(w->l_milestone->text(), "A");

    w->t_term->setText("1b 77 63");
    w->b_term->click();
    EXPECT_EQ(third.readFor(300), "\x1b\x77\x63");
    EXPECT_EQ(terminal->takeReceived(), "");

    // The host lamp: nothing is sent before the link is up, the bytes go once it is.
    w->t_host->setText("00FF 0D");
    w->b_host->click();
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(Until([this] { return Green(w->status_SSL); }));
    ASSERT_TRUE(host->waitForConnection(5000));
    w->b_host->click();
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->takeReceived(), std::string("\xff\x0d"));

    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(Until([this] { return Red(w->status_SSL); }));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    ASSERT_TRUE(Until([this] { return Red(w->status_RS232); }));
    EXPECT_FALSE(PortOpen());
}

// The box of a port that cannot be opened is the window's answer to the engine's message; the
// start goes on only once the operator has answered it.
TEST_F(Binding, APortThatCannotBeOpenedShowsTheBoxAndTheStartWaitsForItsAnswer) {
    WithLinks();
    w->c_ports->setEditText("com96:2400,e,7,1");
    w->b_start->click();
    ASSERT_TRUE(Until([] { return BoxesShown().size() == 1; }));
    QMessageBox* box = BoxesShown().at(0);
    EXPECT_EQ(box->text(), "Can't open com96:2400,e,7,1");
    EXPECT_EQ(box->windowTitle(), "Orvalle Information");
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    EXPECT_EQ(box->parentWidget(), w.get());
    EXPECT_EQ(w->MessageShown(), box);
    EXPECT_EQ(QGuiApplication::modalWindow(), nullptr) << "a close would be dropped";
    EXPECT_TRUE(Ask([](Engine& e) { return e.MessagePending(); }));
    // Typing and double-clicks elsewhere wait for the box's answer.
    QTest::keyClicks(w->t_blockdelay, "9");
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->t_blockdelay->text(), "385");
    EXPECT_EQ(host->connectionCount(), 0);
    // The start has not gone past the port's open.
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_FALSE(w->label[3]->isEnabled());
    EXPECT_TRUE(Red(w->status_RS232));

    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(Until([] { return BoxesShown().isEmpty(); }));
    ASSERT_TRUE(Until([this] { return !Ask([](Engine& e) { return e.MessagePending(); }); }));
    // The start went on: the status line taken, the wait ended at once for the closed port.
    ASSERT_TRUE(Until([this] { return w->label[3]->isEnabled(); }));
    EXPECT_EQ(w->label[3]->text(), "");
    EXPECT_TRUE(Red(w->status_RS232));
    EXPECT_TRUE(w->b_start->isEnabled());
    EXPECT_EQ(w->MessageShown(), nullptr);
    // The operator's input reaches the window again.
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(Until([this] { return Green(w->status_SSL); }));
}

// The toolkit drops a window manager's close that reaches a window a modal box blocks: the
// port's box must not block the window, yet hold back the operator's other input.
TEST_F(Binding, ACloseWhileThePortsBoxIsUpEndsTheBoxStopsAndEndsTheProgram) {
    WithLinks();
    w->EndsProgramOnUnload = true;
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(host->waitForConnection(5000));
    w->c_ports->setEditText("com96:2400,e,7,1");
    w->b_start->click();
    ASSERT_TRUE(Until([] { return BoxesShown().size() == 1; }));

    WindowManagerClose(*w);
    EXPECT_TRUE(w->IsClosing());
    EXPECT_EQ(RunProgramLoop(), 0);
    EXPECT_TRUE(w->IsUnloaded());
    EXPECT_TRUE(BoxesShown().isEmpty());
    EXPECT_FALSE(HostConnected());
    EXPECT_TRUE(host->waitForDisconnect(5000));
    // The stop's state, not the start's, is what the window keeps.
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_FALSE(w->label[3]->isEnabled());
    EXPECT_TRUE(w->t_blockdelay->isEnabled());
    EXPECT_TRUE(Red(w->status_SSL));
    EXPECT_FALSE(PortOpen());
}

// Two closes queued behind the stop button reach the window while the stop runs: the first
// closes, the second finds the window closing, and the engine unloads once.
TEST_F(Binding, TwoClosesDuringTheStopUnloadOnce) {
    WithLinks();
    QTest::mouseDClick(w->status_RS232, Qt::LeftButton);
    QTest::mouseDClick(w->status_SSL, Qt::LeftButton);
    ASSERT_TRUE(Until([this] { return Green(w->status_RS232) && Green(w->status_SSL); }));
    ASSERT_TRUE(host->waitForConnection(5000));
    QSignalSpy unloaded(&w->Channel(), &EngineThread::Unloaded);
    w->b_stop->click();
    WindowManagerClose(*w);
    WindowManagerClose(*w);
    ASSERT_TRUE(Until([this] { return w->IsUnloaded(); }));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    Until([] { return false; }, 100);
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(PortOpen());
    EXPECT_FALSE(HostConnected());
    EXPECT_EQ(host->connectionCount(), 1);
}

// A close from the platform (a log-off, a termination signal) ends the program without the
// operator's stop; the operator's own close stops first.
TEST_F(Binding, OnlyTheOperatorsCloseRunsTheStop) {
    WithLinks();
    w->chkIsResidentLoaded->setChecked(true);
    w->b_start->click();
    ASSERT_TRUE(Until([this] { return Green(w->status_SSL); }));
    ASSERT_TRUE(host->waitForConnection(5000));
    w->EndsProgramOnUnload = true;
    w->close();  // from code, as the signal handler closes it
    EXPECT_EQ(RunProgramLoop(), 0);
    ASSERT_TRUE(w->WaitUntilShown());
    // The unload closed both links, but the stop's captions and lamps never came.
    EXPECT_FALSE(PortOpen());
    EXPECT_TRUE(host->waitForDisconnect(5000));
    EXPECT_TRUE(Until([this] { return !HostConnected(); }));
    EXPECT_TRUE(Green(w->status_SSL));
    EXPECT_TRUE(Green(w->status_RS232));
    EXPECT_TRUE(w->label[3]->isEnabled());

    // The same run closed by the operator.
    w = std::make_unique<WHost>(dir.path());
    w->show();
    ChooseHost("Ludric", host->port());
    w->chkIsResidentLoaded->setChecked(true);
    w->b_start->click();
    ASSERT_TRUE(Until([this] { return Green(w->status_SSL); }));
    w->EndsProgramOnUnload = true;
    w->CloseByOperator();
    EXPECT_EQ(RunProgramLoop(), 0);
    ASSERT_TRUE(w->WaitUntilShown());
    EXPECT_TRUE(Red(w->status_SSL));
    EXPECT_TRUE(Red(w->status_RS232));
    EXPECT_EQ(w->label[3]->text(), "HOST NOT CONNECTED");
    EXPECT_FALSE(w->label[3]->isEnabled());
}
