// The serial port component against a real pty: the rig's PtyTerminal plays the terminal on
// the master side, the component opens the slave through ports/comN in a temporary folder.
// Opening, closing, settings, the modem lines and the receive event; traffic and loss are in
// test_serial_output.cpp.
#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>

#include "tests/serial_fixture.h"

using corvane::CommError;
using corvane::DevicePathForPort;
using corvane::SerialPort;
using corvane::rig::PtyTerminal;
using corvane::rig::RunUntil;
using namespace corvane::testing;

namespace fs = std::filesystem;

TEST(DevicePath, LinkWhenPresentElseTtyS) {
    asio::io_context io;
    TempDir dir;
    EXPECT_EQ(DevicePathForPort(dir.path(), 0), "");
    EXPECT_EQ(DevicePathForPort(dir.path(), -4), "");
    EXPECT_EQ(DevicePathForPort(dir.path(), 1), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPort(dir.path(), 99), "/dev/ttyS98");
    {
        PtyTerminal term(io, dir.path(), 7);
        EXPECT_EQ(term.linkPath(), dir.path() + "/ports/com7");
        EXPECT_EQ(DevicePathForPort(dir.path(), 7), term.linkPath());
        EXPECT_EQ(DevicePathForPort(dir.path(), 8), "/dev/ttyS7");
    }
    // The terminal removed its link.
    EXPECT_EQ(DevicePathForPort(dir.path(), 7), "/dev/ttyS6");
}

TEST(DevicePath, ReplacesAnExistingLink) {
    asio::io_context io;
    TempDir dir;
    PtyTerminal first(io, dir.path(), 2);
    PtyTerminal second(io, dir.path(), 2);
    EXPECT_EQ(fs::read_symlink(second.linkPath()).string(), second.slavePath());
}

TEST_F(SerialPortTest, OpensThroughTheLink) {
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_EQ(port_.PortName(), "com3");
    openAsTheProgramDoes();
    EXPECT_TRUE(port_.PortOpen());
    EXPECT_FALSE(port_.HasLineHardware());  // a pty has no modem lines
    EXPECT_EQ(port_.Settings(), "2400,e,7,1");
    EXPECT_TRUE(port_.DTREnable());
    EXPECT_TRUE(port_.RTSEnable());
    EXPECT_EQ(port_.InBufferCount(), 0);
    EXPECT_EQ(port_.Input(), "");
    port_.setPortOpen(false);
    EXPECT_FALSE(port_.PortOpen());
}

TEST_F(SerialPortTest, ADevicePathOpensThatDeviceInPlaceOfTheNumberedPort) {
    port_.setCommPort(9);  // no such link: only the device path can open
    port_.setDevicePath(term_->slavePath());
    EXPECT_EQ(port_.PortName(), term_->slavePath());
    ASSERT_NO_THROW(port_.setPortOpen(true));
    term_->send("by path");
    EXPECT_EQ(readAll(7), "by path");
    port_.setPortOpen(false);
    port_.setDevicePath("");
    try {
        port_.setPortOpen(true);
        ADD_FAILURE() << "no error";
    } catch (const CommError& e) {
        EXPECT_NE(std::string(e.what()).find("com9 (/dev/ttyS8)"), std::string::npos) << e.what();
    }
}

TEST_F(SerialPortTest, SettingsChangeWhileOpenRaisesNothingOnAPty) {
    openAsTheProgramDoes("2400,e,7,1");
    EXPECT_NO_THROW(port_.setSettings("2400,o,8,1"));
    EXPECT_EQ(port_.Settings(), "2400,o,8,1");
    const std::string all = AllByteValues();
    port_.Output(all);
    ASSERT_TRUE(term_->waitForBytes(256, 3000));
    EXPECT_EQ(term_->takeReceived(), all);
    term_->send(all);
    EXPECT_EQ(readAll(256), all);

    EXPECT_NO_THROW(port_.setSettings("2400,e,7,1"));
    EXPECT_EQ(port_.Settings(), "2400,e,7,1");
    term_->send("back to even");
    EXPECT_EQ(readAll(12), "back to even");
    port_.Output("ok");
    ASSERT_TRUE(term_->waitForBytes(2, 3000));
    EXPECT_EQ(term_->takeReceived(), "ok");

    // Mark, space, 1.5 and 2 stop bits, other rates: all accepted on a pty.
    for (const char* s : {"9600,m,8,2", "300,s,5,1.5", "115200,n,6,1", "2400,o,8,1"})
        EXPECT_NO_THROW(port_.setSettings(s)) << s;
    EXPECT_TRUE(port_.PortOpen());
}

TEST_F(SerialPortTest, SettingsWhileClosedAreOnlyRemembered) {
    port_.setSettings(" 2400 , O , 8 , 1 ");
    EXPECT_EQ(port_.Settings(), "2400,o,8,1");
    EXPECT_FALSE(port_.PortOpen());
    port_.setPortOpen(true);
    EXPECT_EQ(port_.Settings(), "2400,o,8,1");
}

TEST_F(SerialPortTest, BadSettingsRaiseAndKeepTheOldOnes) {
    port_.setSettings("2400,e,7,1");
    for (const char* bad : {"", "2400,x,7,1", "2400,e,7", "1234,e,7,1", "2400,e,9,1", "junk"}) {
        EXPECT_THROW(port_.setSettings(bad), CommError) << bad;
        EXPECT_EQ(port_.Settings(), "2400,e,7,1") << bad;
    }
    port_.setPortOpen(true);
    try {
        port_.setSettings("2400,e,7,x");
        ADD_FAILURE() << "no error";
    } catch (const CommError& e) {
        EXPECT_NE(std::string(e.what()).find("stop bits"), std::string::npos) << e.what();
    }
    EXPECT_EQ(port_.Settings(), "2400,e,7,1");
    EXPECT_TRUE(port_.PortOpen());
}

TEST_F(SerialPortTest, LineTimeFollowsTheSettings) {
    port_.setSettings("2400,e,7,1");
    EXPECT_EQ(port_.Baud(), 2400);
    EXPECT_DOUBLE_EQ(port_.BitsPerCharacter(), 10);
    EXPECT_DOUBLE_EQ(port_.LineMs(240), 1000);
    port_.setSettings("2400,o,8,1");
    EXPECT_DOUBLE_EQ(port_.BitsPerCharacter(), 11);
    port_.setSettings("300,n,5,1.5");
    EXPECT_DOUBLE_EQ(port_.BitsPerCharacter(), 7.5);
    // Well past 16 bits of characters.
    EXPECT_DOUBLE_EQ(port_.LineMs(3000000), 75000000);
}

TEST(SerialPortOpen, MissingPortRaisesNamingTheDevice) {
    asio::io_context io;
    TempDir dir;
    SerialPort port(io);
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
    asio::io_context io;
    TempDir dir;
    SerialPort port(io);
    port.setProgramDir(dir.path());
    for (int n : {0, -1}) {
        port.setCommPort(n);
        EXPECT_THROW(port.setPortOpen(true), CommError) << n;
        EXPECT_FALSE(port.PortOpen());
    }
}

TEST(SerialPortOpen, NotATerminalDeviceRaises) {
    asio::io_context io;
    TempDir dir;
    fs::create_directories(dir.filePath("ports"));
    std::ofstream(dir.filePath("plain")).close();
    fs::create_symlink(dir.filePath("plain"), dir.filePath("ports/com5"));
    SerialPort port(io);
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
    SerialPort second(io_);
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
    EXPECT_EQ(term_->takeReceived(), "still mine");
    // Closed, the port is free for the second, which then gets the traffic.
    port_.setPortOpen(false);
    ASSERT_NO_THROW(second.setPortOpen(true));
    term_->send("to the second");
    EXPECT_EQ(ReadAll(io_, second, 13, 3000), "to the second");
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
    EXPECT_EQ(readAll(5), "again");
}

TEST(SerialPortClosed, InputAndOutputRaise) {
    asio::io_context io;
    SerialPort port(io);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.InBufferCount(), 0);
    EXPECT_EQ(port.OutBufferCount(), 0);
    EXPECT_THROW(port.Input(), CommError);
    EXPECT_THROW(port.Output("x"), CommError);
    EXPECT_NO_THROW(port.setPortOpen(false));
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
    term_->send(std::string("\x11\x13\x03\x04", 4));
    EXPECT_EQ(readAll(4), std::string("\x11\x13\x03\x04", 4));
}

// ---- Receive event ----

TEST_F(SerialPortTest, ReceiveEventOnceTheThresholdWaitsAndAgainOnlyAfterInput) {
    openAsTheProgramDoes();
    port_.setRThreshold(5);
    term_->send("abc");
    runFor(150);
    EXPECT_TRUE(events_.empty());  // fewer than the threshold
    term_->send("de");
    ASSERT_TRUE(RunUntil(
        io_, [&] { return !events_.empty(); }, 2000));
    EXPECT_EQ(events_, std::vector<int>{corvane::comEvReceive});
    term_->send("more");
    runFor(150);
    EXPECT_EQ(events_.size(), 1u);  // a slow reader is woken once
    EXPECT_EQ(port_.Input(), "abcdemore");
    term_->send("fghij");
    ASSERT_TRUE(RunUntil(
        io_, [&] { return events_.size() >= 2; }, 2000));
    EXPECT_EQ(events_[1], corvane::comEvReceive);
    EXPECT_EQ(port_.Input(), "fghij");
    // 0: no receive events.
    port_.setRThreshold(0);
    term_->send("klmno");
    runFor(150);
    EXPECT_EQ(events_.size(), 2u);
    EXPECT_EQ(readAll(5), "klmno");
}

// ---- Clear To Send ----

TEST_F(SerialPortTest, ClearToSendChangeRaisesEvent3OncePerChange) {
    auto lines = std::make_shared<int>(TIOCM_DSR);
    port_.setModemLineReader([lines](int) { return *lines; });
    openAsTheProgramDoes();
    EXPECT_FALSE(port_.HasLineHardware());  // the fake reader does not make the pty hardware
    EXPECT_NO_THROW(port_.setSettings("2400,o,8,1"));

    runFor(100);
    EXPECT_EQ(events_.size(), 0u);  // nothing changed

    *lines |= TIOCM_CTS;
    ASSERT_TRUE(RunUntil(
        io_, [&] { return events_.size() >= 1; }, 1000));
    runFor(100);
    EXPECT_EQ(events_.size(), 1u);

    *lines &= ~TIOCM_CTS;
    ASSERT_TRUE(RunUntil(
        io_, [&] { return events_.size() >= 2; }, 1000));
    runFor(100);
    EXPECT_EQ(events_.size(), 2u);

    *lines &= ~TIOCM_DSR;  // another line: no event
    *lines |= TIOCM_CD;
    runFor(100);
    EXPECT_EQ(events_.size(), 2u);

    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[0], corvane::comEvCTS);
    EXPECT_EQ(events_[1], corvane::comEvCTS);
    EXPECT_EQ(port_.CommEvent(), 3);

    // Closed, the lines are not watched.
    port_.setPortOpen(false);
    *lines |= TIOCM_CTS;
    runFor(100);
    EXPECT_EQ(events_.size(), 2u);
}

TEST_F(SerialPortTest, NoModemLinesNoClearToSendEvents) {
    openAsTheProgramDoes();  // the real reader: a pty has no lines
    runFor(200);
    EXPECT_EQ(events_.size(), 0u);
    EXPECT_TRUE(port_.PortOpen());
}
