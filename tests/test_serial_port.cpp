// The serial port component against a real pty: the rig's PtyTerminal plays the terminal on
// the master side, the component opens the slave through ports/comN in a temporary folder.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>
#include <memory>

#include "links/serial_port.h"
#include "rig/pty_terminal.h"
#include "rig/wait.h"

using corvane::CommError;
using corvane::DevicePathForPort;
using corvane::SerialPort;
using corvane::rig::PtyTerminal;
using corvane::rig::RunUntil;

namespace {

QByteArray AllByteValues() {
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
    return all;
}

// A pattern in which a lost, doubled or swapped block shows.
QByteArray Pattern(int size) {
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return out;
}

// Runs a real event loop (which sleeps when idle, unlike RunFor) for ms milliseconds.
void Exec(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

qint64 ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

QByteArray ReadAll(SerialPort& port, int n, int timeoutMs) {
    QByteArray got;
    RunUntil(
        [&] {
            if (port.InBufferCount() > 0) got += port.Input();
            return got.size() >= n;
        },
        timeoutMs);
    return got;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        term_ = std::make_unique<PtyTerminal>(dir_.path(), 3);
        port_.setProgramDir(dir_.path());
        port_.setCommPort(3);
    }

    void openAsTheProgramDoes(const QString& settings = QStringLiteral("2400,e,7,1")) {
        port_.setSettings(settings);
        port_.setHandshaking(0);
        port_.setDTREnable(true);
        port_.setRTSEnable(true);
        port_.setPortOpen(true);
    }

    QTemporaryDir dir_;
    std::unique_ptr<PtyTerminal> term_;
    SerialPort port_;
};

}  // namespace

TEST(DevicePath, LinkWhenPresentElseTtyS) {
    QTemporaryDir dir;
    EXPECT_EQ(DevicePathForPort(dir.path(), 0), QString());
    EXPECT_EQ(DevicePathForPort(dir.path(), -4), QString());
    EXPECT_EQ(DevicePathForPort(dir.path(), 1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(DevicePathForPort(dir.path(), 99), QStringLiteral("/dev/ttyS98"));
    {
        PtyTerminal term(dir.path(), 7);
        EXPECT_EQ(term.linkPath(), dir.path() + QStringLiteral("/ports/com7"));
        EXPECT_EQ(DevicePathForPort(dir.path(), 7), term.linkPath());
        EXPECT_EQ(DevicePathForPort(dir.path(), 8), QStringLiteral("/dev/ttyS7"));
    }
    // The terminal removed its link.
    EXPECT_EQ(DevicePathForPort(dir.path(), 7), QStringLiteral("/dev/ttyS6"));
}

TEST(DevicePath, ReplacesAnExistingLink) {
    QTemporaryDir dir;
    PtyTerminal first(dir.path(), 2);
    PtyTerminal second(dir.path(), 2);
    EXPECT_EQ(QFileInfo(second.linkPath()).symLinkTarget(), second.slavePath());
}

TEST_F(SerialPortTest, OpensThroughTheLink) {
    EXPECT_FALSE(port_.PortOpen());
    openAsTheProgramDoes();
    EXPECT_TRUE(port_.PortOpen());
    EXPECT_FALSE(port_.HasLineHardware());  // a pty has no modem lines
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,e,7,1"));
    EXPECT_TRUE(port_.DTREnable());
    EXPECT_TRUE(port_.RTSEnable());
    EXPECT_EQ(port_.InBufferCount(), 0);
    EXPECT_EQ(port_.Input(), QByteArray());
    port_.setPortOpen(false);
    EXPECT_FALSE(port_.PortOpen());
}

TEST_F(SerialPortTest, AllByteValuesPassBothWaysUnchanged) {
    openAsTheProgramDoes();
    const QByteArray all = AllByteValues();

    term_->send(all);
    ASSERT_TRUE(RunUntil([&] { return port_.InBufferCount() >= 256; }, 3000));
    EXPECT_EQ(port_.InBufferCount(), 256);
    EXPECT_EQ(port_.Input(), all);
    EXPECT_EQ(port_.InBufferCount(), 0);  // Input removed them
    EXPECT_EQ(port_.Input(), QByteArray());

    port_.Output(all);
    ASSERT_TRUE(term_->waitForBytes(256, 3000));
    EXPECT_EQ(term_->takeReceived(), all);
    ASSERT_EQ(term_->arrivals().size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(term_->arrivals()[i].second, static_cast<char>(i));
}

TEST_F(SerialPortTest, InputTakesMoreThanOneReadAndMoreThan16Bits) {
    openAsTheProgramDoes();
    const QByteArray data = Pattern(100000);
    // The terminal sends while the program reads: everything arrives once and in order.
    QByteArray got;
    int sent = 0;
    RunUntil(
        [&] {
            if (sent < data.size()) {
                const int n = std::min<int>(3000, data.size() - sent);
                term_->send(data.mid(sent, n));
                sent += n;
            }
            if (port_.InBufferCount() > 0) got += port_.Input();
            return got.size() >= data.size();
        },
        20000);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST_F(SerialPortTest, LargeOutputArrivesWholeAndInOrder) {
    openAsTheProgramDoes();
    const QByteArray big = Pattern(1 << 20);
    const QByteArray tail("after the big block");
    port_.Output(big);
    EXPECT_GT(port_.OutBufferCount(), 0);  // the device did not take it at once: queued
    port_.Output(tail);                    // queued behind the rest
    EXPECT_GE(port_.OutBufferCount(), tail.size());
    const int total = big.size() + tail.size();
    ASSERT_TRUE(term_->waitForBytes(total, 30000)) << term_->receivedCount();
    const QByteArray got = term_->takeReceived();
    ASSERT_EQ(got.size(), total);
    EXPECT_TRUE(got.left(big.size()) == big);
    EXPECT_EQ(got.mid(big.size()), tail);
    EXPECT_EQ(port_.OutBufferCount(), 0);
    // The arrival record has every byte, with times that never go back.
    ASSERT_EQ(term_->arrivals().size(), static_cast<size_t>(total));
    for (size_t i = 1; i < term_->arrivals().size(); ++i)
        ASSERT_LE(term_->arrivals()[i - 1].first, term_->arrivals()[i].first);
}

TEST_F(SerialPortTest, SettingsChangeWhileOpenRaisesNothingOnAPty) {
    openAsTheProgramDoes(QStringLiteral("2400,e,7,1"));
    EXPECT_NO_THROW(port_.setSettings(QStringLiteral("2400,o,8,1")));
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,o,8,1"));
    const QByteArray all = AllByteValues();
    port_.Output(all);
    ASSERT_TRUE(term_->waitForBytes(256, 3000));
    EXPECT_EQ(term_->takeReceived(), all);
    term_->send(all);
    EXPECT_EQ(ReadAll(port_, 256, 3000), all);

    EXPECT_NO_THROW(port_.setSettings(QStringLiteral("2400,e,7,1")));
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,e,7,1"));
    term_->send("back to even");
    EXPECT_EQ(ReadAll(port_, 12, 3000), QByteArray("back to even"));
    port_.Output("ok");
    ASSERT_TRUE(term_->waitForBytes(2, 3000));
    EXPECT_EQ(term_->takeReceived(), QByteArray("ok"));

    // Mark, space, 1.5 and 2 stop bits, other rates: all accepted on a pty.
    for (const char* s : {"9600,m,8,2", "300,s,5,1.5", "115200,n,6,1", "2400,o,8,1"})
        EXPECT_NO_THROW(port_.setSettings(QLatin1String(s))) << s;
    EXPECT_TRUE(port_.PortOpen());
}

TEST_F(SerialPortTest, ASettingsChangeLetsQueuedOutputLeaveFirstAndGivesUpAfterItsBound) {
    openAsTheProgramDoes(QStringLiteral("2400,o,8,1"));
    term_->setLineRate(2400, 11);
    // What the terminal has not read yet stands for the device's queue.
    port_.setOutputQueueReader(
        [this](int) { return static_cast<int>(port_.CharactersWritten() - term_->readTotal()); });
    QSignalSpy events(&port_, &SerialPort::OnComm);
    port_.Output(Pattern(300));
    port_.setSettings(QStringLiteral("2400,e,7,1"));
    // Changed only once the line had sent all of it, at the old framing.
    EXPECT_EQ(term_->readTotal(), 300);
    EXPECT_EQ(term_->takeReceived(), Pattern(300));
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,e,7,1"));
    EXPECT_EQ(events.count(), 0);

    // A device that never empties: the change comes after the queue's line time and a
    // second, once, with the event that says so.
    port_.setOutputQueueReader([](int) { return 50; });
    port_.setSettings(QStringLiteral("2400,o,8,1"));
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,o,8,1"));
    ASSERT_TRUE(RunUntil([&] { return events.count() > 0; }, 3000));  // after the call
    Exec(50);
    ASSERT_EQ(events.count(), 1);
    EXPECT_EQ(port_.CommEvent(), corvane::comEventDrainTimeout);
    EXPECT_TRUE(port_.PortOpen());
}

TEST_F(SerialPortTest, SettingsWhileClosedAreOnlyRemembered) {
    port_.setSettings(QStringLiteral(" 2400 , O , 8 , 1 "));
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,o,8,1"));
    EXPECT_FALSE(port_.PortOpen());
    port_.setPortOpen(true);
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,o,8,1"));
}

TEST_F(SerialPortTest, BadSettingsRaiseAndKeepTheOldOnes) {
    port_.setSettings(QStringLiteral("2400,e,7,1"));
    for (const char* bad : {"", "2400,x,7,1", "2400,e,7", "1234,e,7,1", "2400,e,9,1", "junk"}) {
        EXPECT_THROW(port_.setSettings(QLatin1String(bad)), CommError) << bad;
        EXPECT_EQ(port_.Settings(), QStringLiteral("2400,e,7,1")) << bad;
    }
    port_.setPortOpen(true);
    try {
        port_.setSettings(QStringLiteral("2400,e,7,x"));
        ADD_FAILURE() << "no error";
    } catch (const CommError& e) {
        EXPECT_NE(std::string(e.what()).find("stop bits"), std::string::npos) << e.what();
    }
    EXPECT_EQ(port_.Settings(), QStringLiteral("2400,e,7,1"));
    EXPECT_TRUE(port_.PortOpen());
}

TEST(SerialPortOpen, MissingPortRaisesNamingTheDevice) {
    QTemporaryDir dir;
    SerialPort port;
    port.setProgramDir(dir.path());
    port.setCommPort(99);
    try {
        port.setPortOpen(true);
        ADD_FAILURE() << "no error";
    } catch (const CommError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("com99"), std::string::npos) << what;
        EXPECT_NE(what.find("/dev/ttyS98"), std::string::npos) << what;
        EXPECT_NE(what.find("No such file"), std::string::npos) << what;
    }
    EXPECT_FALSE(port.PortOpen());
}

TEST(SerialPortOpen, PortZeroAndNegativeRaise) {
    QTemporaryDir dir;
    SerialPort port;
    port.setProgramDir(dir.path());
    for (int n : {0, -1}) {
        port.setCommPort(n);
        EXPECT_THROW(port.setPortOpen(true), CommError) << n;
        EXPECT_FALSE(port.PortOpen());
    }
}

TEST(SerialPortOpen, NotATerminalDeviceRaises) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("ports")));
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    ASSERT_TRUE(QFile::link(plain.fileName(), dir.filePath(QStringLiteral("ports/com5"))));
    SerialPort port;
    port.setProgramDir(dir.path());
    port.setCommPort(5);
    try {
        port.setPortOpen(true);
        ADD_FAILURE() << "no error";
    } catch (const CommError& e) {
        EXPECT_NE(std::string(e.what()).find("not a terminal"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(port.PortOpen());
}

TEST_F(SerialPortTest, BusyPortRaisesAndFreesOnClose) {
    openAsTheProgramDoes();
    SerialPort second;
    second.setProgramDir(dir_.path());
    second.setCommPort(3);
    try {
        second.setPortOpen(true);
        ADD_FAILURE() << "no error";
    } catch (const CommError& e) {
        EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(second.PortOpen());
    // The first still works.
    port_.Output("still mine");
    ASSERT_TRUE(term_->waitForBytes(10, 3000));
    EXPECT_EQ(term_->takeReceived(), QByteArray("still mine"));
    // Closed, the port is free for the second, which then gets the traffic.
    port_.setPortOpen(false);
    ASSERT_NO_THROW(second.setPortOpen(true));
    term_->send("to the second");
    EXPECT_EQ(ReadAll(second, 13, 3000), QByteArray("to the second"));
}

TEST_F(SerialPortTest, OpenTwiceRaisesAndCloseTwiceDoesNothing) {
    openAsTheProgramDoes();
    try {
        port_.setPortOpen(true);
        ADD_FAILURE() << "no error";
    } catch (const CommError& e) {
        EXPECT_NE(std::string(e.what()).find("already open"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(port_.PortOpen());
    EXPECT_THROW(port_.setCommPort(4), CommError);
    EXPECT_EQ(port_.CommPort(), 3);
    port_.setPortOpen(false);
    EXPECT_NO_THROW(port_.setPortOpen(false));
    EXPECT_FALSE(port_.PortOpen());
    // Reopened, traffic passes again.
    port_.setPortOpen(true);
    term_->send("again");
    EXPECT_EQ(ReadAll(port_, 5, 3000), QByteArray("again"));
}

TEST(SerialPortClosed, InputAndOutputRaise) {
    SerialPort port;
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.InBufferCount(), 0);
    EXPECT_THROW(port.Input(), CommError);
    EXPECT_THROW(port.Output("x"), CommError);
    EXPECT_NO_THROW(port.setPortOpen(false));
}

TEST_F(SerialPortTest, ClosingDropsTheQueueAndLaterOutputRaises) {
    openAsTheProgramDoes();
    port_.Output(Pattern(1 << 20));
    EXPECT_GT(port_.OutBufferCount(), 0);
    port_.setPortOpen(false);
    EXPECT_EQ(port_.OutBufferCount(), 0);
    EXPECT_THROW(port_.Output("x"), CommError);
    EXPECT_THROW(port_.Input(), CommError);
    EXPECT_EQ(port_.InBufferCount(), 0);
}

TEST_F(SerialPortTest, LinesAndHandshakingOnAPtyAreRememberedWithoutError) {
    openAsTheProgramDoes();
    EXPECT_NO_THROW(port_.setRTSEnable(false));
    EXPECT_FALSE(port_.RTSEnable());
    EXPECT_NO_THROW(port_.setDTREnable(false));
    EXPECT_FALSE(port_.DTREnable());
    EXPECT_THROW(port_.setHandshaking(4), CommError);
    EXPECT_THROW(port_.setHandshaking(-1), CommError);
    EXPECT_EQ(port_.Handshaking(), 0);
    EXPECT_NO_THROW(port_.setHandshaking(2));
    EXPECT_EQ(port_.Handshaking(), 2);
    EXPECT_NO_THROW(port_.setHandshaking(0));
    // Handshaking 0: XON and XOFF are data like any other byte.
    term_->send(QByteArray("\x11\x13\x03\x04", 4));
    EXPECT_EQ(ReadAll(port_, 4, 3000), QByteArray("\x11\x13\x03\x04", 4));
}

// ---- Hang-up ----

TEST_F(SerialPortTest, HangUpReportsOnceClosesAndStaysQuiet) {
    openAsTheProgramDoes();
    QSignalSpy spy(&port_, &SerialPort::OnComm);
    std::vector<int> codes;
    QObject::connect(&port_, &SerialPort::OnComm, [&] { codes.push_back(port_.CommEvent()); });

    term_->hangUp();

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    const qint64 cpu0 = ThreadCpuMs();
    Exec(300);  // nobody polls the port: it finds the loss on its own
    const qint64 cpu = ThreadCpuMs() - cpu0;
    ticker.stop();

    EXPECT_EQ(spy.count(), 1);
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0], corvane::comEventPortLost);
    EXPECT_EQ(port_.CommEvent(), corvane::comEventPortLost);
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_EQ(port_.InBufferCount(), 0);
    EXPECT_THROW(port_.Input(), CommError);
    EXPECT_THROW(port_.Output("x"), CommError);
    Exec(100);
    EXPECT_EQ(spy.count(), 1);  // still one
    // No spin: the loop slept and the ticker kept its pace.
    EXPECT_LT(cpu, 100) << "cpu ms " << cpu;
    EXPECT_GE(ticks, 15);
}

TEST_F(SerialPortTest, HangUpFoundByTheCallerIsDeliveredAfterTheCall) {
    openAsTheProgramDoes();
    QSignalSpy spy(&port_, &SerialPort::OnComm);
    term_->hangUp();
    EXPECT_EQ(port_.InBufferCount(), 0);  // finds the loss
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_EQ(spy.count(), 0);  // not inside the caller's operation
    EXPECT_EQ(port_.InBufferCount(), 0);
    EXPECT_THROW(port_.Input(), CommError);
    Exec(300);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(port_.CommEvent(), corvane::comEventPortLost);
}

TEST_F(SerialPortTest, HangUpFoundByOutputAndInput) {
    openAsTheProgramDoes();
    {
        QSignalSpy spy(&port_, &SerialPort::OnComm);
        term_->hangUp();
        EXPECT_THROW(port_.Output("x"), CommError);
        EXPECT_FALSE(port_.PortOpen());
        Exec(300);
        EXPECT_EQ(spy.count(), 1);
    }
    // A fresh line, and the loss found by Input.
    term_.reset();
    term_ = std::make_unique<PtyTerminal>(dir_.path(), 3);
    port_.setPortOpen(true);
    QSignalSpy spy(&port_, &SerialPort::OnComm);
    term_->hangUp();
    EXPECT_THROW(port_.Input(), CommError);
    EXPECT_FALSE(port_.PortOpen());
    Exec(300);
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(SerialPortTest, HangUpWithOutputQueuedReportsOnce) {
    openAsTheProgramDoes();
    port_.Output(Pattern(1 << 20));
    ASSERT_GT(port_.OutBufferCount(), 0);
    QSignalSpy spy(&port_, &SerialPort::OnComm);
    term_->hangUp();  // the write notifier finds it
    const qint64 cpu0 = ThreadCpuMs();
    Exec(300);
    const qint64 cpu = ThreadCpuMs() - cpu0;
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_EQ(port_.OutBufferCount(), 0);
    EXPECT_LT(cpu, 100) << "cpu ms " << cpu;
}

// ---- Clear To Send ----

TEST_F(SerialPortTest, ClearToSendChangeRaisesEvent3OncePerChange) {
    auto lines = std::make_shared<int>(TIOCM_DSR);
    port_.setModemLineReader([lines](int) { return *lines; });
    openAsTheProgramDoes();
    EXPECT_FALSE(port_.HasLineHardware());  // the fake reader does not make the pty hardware
    EXPECT_NO_THROW(port_.setSettings(QStringLiteral("2400,o,8,1")));

    QSignalSpy spy(&port_, &SerialPort::OnComm);
    std::vector<int> codes;
    QObject::connect(&port_, &SerialPort::OnComm, [&] { codes.push_back(port_.CommEvent()); });

    Exec(100);
    EXPECT_EQ(spy.count(), 0);  // nothing changed

    *lines |= TIOCM_CTS;
    ASSERT_TRUE(RunUntil([&] { return spy.count() >= 1; }, 1000));
    Exec(100);
    EXPECT_EQ(spy.count(), 1);

    *lines &= ~TIOCM_CTS;
    ASSERT_TRUE(RunUntil([&] { return spy.count() >= 2; }, 1000));
    Exec(100);
    EXPECT_EQ(spy.count(), 2);

    *lines &= ~TIOCM_DSR;  // another line: no event
    *lines |= TIOCM_CD;
    Exec(100);
    EXPECT_EQ(spy.count(), 2);

    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0], corvane::comEvCTS);
    EXPECT_EQ(codes[1], corvane::comEvCTS);
    EXPECT_EQ(port_.CommEvent(), 3);

    // Closed, the lines are not watched.
    port_.setPortOpen(false);
    *lines |= TIOCM_CTS;
    Exec(100);
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(SerialPortTest, NoModemLinesNoClearToSendEvents) {
    openAsTheProgramDoes();  // the real reader: a pty has no lines
    QSignalSpy spy(&port_, &SerialPort::OnComm);
    Exec(200);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(port_.PortOpen());
}

TEST(PtyTerminalRig, OldTerminalLeavesANewerLinkAlone) {
    QTemporaryDir dir;
    auto first = std::make_unique<PtyTerminal>(dir.path(), 4);
    first->hangUp();
    auto second = std::make_unique<PtyTerminal>(dir.path(), 4);  // may reuse the pts number
    first.reset();
    EXPECT_EQ(QFileInfo(second->linkPath()).symLinkTarget(), second->slavePath());
    EXPECT_EQ(DevicePathForPort(dir.path(), 4), second->linkPath());
    second.reset();
    EXPECT_FALSE(QFileInfo(dir.filePath(QStringLiteral("ports/com4"))).isSymLink());
}

TEST(PtyTerminalRig, RecordsArrivalTimes) {
    QTemporaryDir dir;
    PtyTerminal term(dir.path(), 1);
    SerialPort port;
    port.setProgramDir(dir.path());
    port.setCommPort(1);
    port.setPortOpen(true);
    port.Output("a");
    ASSERT_TRUE(term.waitForBytes(1, 2000));
    corvane::rig::RunFor(60);
    port.Output("b");
    const QByteArray got = term.readFor(100);
    EXPECT_EQ(got, QByteArray("ab"));
    ASSERT_EQ(term.arrivals().size(), 2u);
    EXPECT_EQ(term.arrivals()[0].second, 'a');
    EXPECT_EQ(term.arrivals()[1].second, 'b');
    EXPECT_GE(term.arrivals()[1].first - term.arrivals()[0].first, 50);
    EXPECT_LE(term.arrivals()[1].first, term.elapsedMs());
    term.clearArrivals();
    EXPECT_TRUE(term.arrivals().empty());
    // Data the terminal sends before the program opens waits for it.
    port.setPortOpen(false);
    term.send("early");
    port.setPortOpen(true);
    EXPECT_EQ(ReadAll(port, 5, 2000), QByteArray("early"));
}
