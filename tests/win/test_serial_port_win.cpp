// The serial port component on Windows, run under Wine with COM1 mapped to a Linux pty whose
// master tests/win/serial_pty_relay.cpp hands to one TCP client on 127.0.0.1 at a time: the
// test is that client, the terminal on the line. CORVANE_PTY_RELAY names the relay's TCP
// port; closing the connection hangs the pty up. tests/win/serial_wine_run.sh sets it all up.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "links/serial_devices.h"
#include "links/serial_port.h"
#include "tests/test_helpers.h"

// After Asio, which brings winsock2.h before windows.h.
#include <windows.h>
#include <winsock2.h>

namespace corvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the io_context until cond() holds or timeoutMs have passed.
bool RunUntil(asio::io_context& io, const std::function<bool()>& cond, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (Clock::now() >= deadline) return false;
        io.restart();
        io.run_for(std::chrono::milliseconds(2));
    }
    return true;
}

void RunFor(asio::io_context& io, int ms) {
    RunUntil(
        io, [] { return false; }, ms);
}

std::string Pattern(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return out;
}
// The terminal on the other end of COM1: a connection to the relay, which first names the
// fresh pty it made for us.
class Terminal {
  public:
    Terminal() {
        const char* port = std::getenv("CORVANE_PTY_RELAY");
        if (!port) return;
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = ::htons(static_cast<u_short>(std::atoi(port)));
        addr.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        if (::connect(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close();
            return;
        }
        u_long nonBlocking = 1;
        ::ioctlsocket(socket_, FIONBIO, &nonBlocking);
        // The relay's first line: its pty is now the one COM1 opens.
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (pty_.empty() || pty_.back() != '\n') {
            char c;
            const int n = ::recv(socket_, &c, 1, 0);
            if (n == 1) {
                pty_ += c;
            } else if (n == 0 || Clock::now() >= deadline) {
                close();
                return;
            } else {
                ::Sleep(1);
            }
        }
    }
    ~Terminal() { close(); }

    bool ready() const { return socket_ != INVALID_SOCKET; }
    void close() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    void send(const std::string& bytes) {
        std::size_t sent = 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (sent < bytes.size() && Clock::now() < deadline) {
            const int n =
                ::send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
            else
                ::Sleep(1);
        }
    }
    // What has come so far, without waiting.
    std::string take() {
        std::string got;
        char buffer[65536];
        for (;;) {
            const int n = ::recv(socket_, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    std::string pty_;
};

class SerialPortWin : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(terminal_.ready()) << "no relay: set CORVANE_PTY_RELAY (serial_wine_run.sh)";
        port_.setCommPort(1);
        port_.OnComm = [this] { events_.push_back(port_.CommEvent()); };
    }

    void openAt(const std::string& settings) {
        port_.setSettings(settings);
        port_.setHandshaking(0);
        port_.setDTREnable(true);
        port_.setRTSEnable(true);
        port_.setPortOpen(true);
    }
    // What the port receives until n characters have come.
    std::string portReads(std::size_t n, int timeoutMs = 5000) {
        std::string got;
        RunUntil(
            io_,
            [&] {
                if (port_.InBufferCount() > 0) got += port_.Input();
                return got.size() >= n;
            },
            timeoutMs);
        return got;
    }
    // What the terminal receives until n characters have come.
    std::string terminalReads(std::size_t n, int timeoutMs = 10000) {
        std::string got;
        RunUntil(
            io_,
            [&] {
                got += terminal_.take();
                return got.size() >= n;
            },
            timeoutMs);
        return got;
    }

    asio::io_context io_;  // first: outlives everything that waits on it
    Terminal terminal_;
    SerialPort port_{io_};
    std::vector<int> events_;
};

TEST_F(SerialPortWin, OpensAtTheRelayAndTheLoadFramingsAndSwitchesBetweenThem) {
    openAt("9600,n,8,1");
    ASSERT_TRUE(port_.PortOpen());
    EXPECT_FALSE(port_.HasLineHardware());  // a pty has no modem lines
    port_.setPortOpen(false);
    openAt("2400,e,7,1");  // Wine reads a pty back as 8/N/1: accepted as on Linux
    ASSERT_TRUE(port_.PortOpen());
    // Wine then cannot even read an odd-parity pty's state back; the switch back still works.
    port_.setSettings("2400,o,8,1");
    port_.setSettings("2400,e,7,1");
    EXPECT_EQ(port_.Settings(), "2400,e,7,1");
    EXPECT_THROW(port_.setSettings("2400,x,7,1"), CommError);
    EXPECT_THROW(port_.setPortOpen(true), CommError);  // already open
    port_.Output("ok");
    EXPECT_EQ(terminalReads(2), "ok");
    EXPECT_TRUE(events_.empty());
}

TEST_F(SerialPortWin, EveryByteValuePassesBothWaysIntact) {
    port_.setDevicePath("\\\\.\\COM1");  // the device's own name opens as well
    openAt("2400,e,7,1");
    ASSERT_TRUE(port_.PortOpen());
    const std::string all = AllByteValues();
    port_.Output(all);
    EXPECT_EQ(terminalReads(all.size()), all);
    terminal_.send(all);
    EXPECT_EQ(portReads(all.size()), all);
    // More than one read and one write hold, both ways at once.
    const std::string big = Pattern(300000);
    port_.Output(big);
    terminal_.send(big);
    std::string toTerminal, toPort;
    RunUntil(
        io_,
        [&] {
            toTerminal += terminal_.take();
            if (port_.InBufferCount() > 0) toPort += port_.Input();
            return toTerminal.size() >= big.size() && toPort.size() >= big.size();
        },
        20000);
    EXPECT_TRUE(toTerminal == big) << toTerminal.size() << " characters came";
    EXPECT_TRUE(toPort == big) << toPort.size() << " characters came";
    EXPECT_EQ(port_.CharactersWritten(), std::int64_t(all.size() + big.size()));
    EXPECT_TRUE(events_.empty());
}

TEST_F(SerialPortWin, TheReceiveEventComesOnceAtTheThresholdUntilInputTakesIt) {
    port_.setRThreshold(5);
    openAt("2400,e,7,1");
    terminal_.send("abc");
    RunUntil(
        io_, [&] { return port_.InBufferCount() >= 3; }, 3000);
    RunFor(io_, 200);
    EXPECT_TRUE(events_.empty()) << "3 of 5 characters raised an event";
    terminal_.send("de");
    RunUntil(
        io_, [&] { return !events_.empty(); }, 3000);
    ASSERT_EQ(events_, std::vector<int>{comEvReceive});
    terminal_.send("fgh");  // not taken yet: no second event
    RunUntil(
        io_, [&] { return port_.InBufferCount() >= 8; }, 3000);
    RunFor(io_, 200);
    EXPECT_EQ(events_.size(), 1u);
    EXPECT_EQ(port_.Input(), "abcdefgh");
    terminal_.send("ijklm");
    RunUntil(
        io_, [&] { return events_.size() >= 2; }, 3000);
    EXPECT_EQ(events_, (std::vector<int>{comEvReceive, comEvReceive}));
    EXPECT_EQ(port_.Input(), "ijklm");
}

TEST_F(SerialPortWin, TheOutputQueueCountsAndItsFlushDropsOnlyWhatIsUnsent) {
    openAt("2400,e,7,1");
    // One write at a time holds the device's part; the rest waits in the component's queue.
    const std::string big = Pattern(4 * 1024 * 1024);
    port_.Output(big);
    EXPECT_GE(port_.OutBufferCount(), int(big.size()) - 64 * 1024);
    port_.setOutputQueueReader([](PortHandle) { return 50; });  // a device that holds some
    const int withDevice = port_.OutBufferCount();
    EXPECT_GE(withDevice, int(big.size()) - 64 * 1024 + 50);
    port_.setOutputQueueReader(nullptr);
    EXPECT_THROW(port_.setOutBufferCount(5), CommError);
    port_.setOutBufferCount(0);  // the flush: aborting the pending write is no loss
    EXPECT_EQ(port_.OutBufferCount(), 0);
    port_.Output("tail");
    std::string got;
    RunUntil(
        io_,
        [&] {
            got += terminal_.take();
            return got.size() >= 4 && got.compare(got.size() - 4, 4, "tail") == 0;
        },
        10000);
    ASSERT_GE(got.size(), 4u);
    ASSERT_EQ(got.compare(got.size() - 4, 4, "tail"), 0);
    // At most the one write the device held went out: the component's queue did not. Which
    // of it a pty drops cannot be told (Wine goes on with a cancelled write for a moment).
    EXPECT_LE(got.size() - 4, 64u * 1024);
    EXPECT_TRUE(port_.PortOpen());
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(port_.OutBufferCount(), 0);
}

TEST_F(SerialPortWin, AHangUpIsReportedOnceAsPortLost) {
    port_.setRThreshold(1);
    openAt("2400,e,7,1");
    terminal_.send("x");
    EXPECT_EQ(portReads(1), "x");
    events_.clear();
    terminal_.close();
    RunUntil(
        io_, [&] { return !events_.empty(); }, 5000);
    RunFor(io_, 300);
    EXPECT_EQ(events_, std::vector<int>{comEventPortLost});
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_THROW(port_.Output("y"), CommError);
    // The next terminal, on a fresh pty, is reached again.
    Terminal next;
    ASSERT_TRUE(next.ready());
    openAt("2400,e,7,1");
    port_.Output("again");
    std::string got;
    RunUntil(
        io_,
        [&] {
            got += next.take();
            return got.size() >= 5;
        },
        5000);
    EXPECT_EQ(got, "again");
}

TEST_F(SerialPortWin, AMissingPortRaisesWithItsName) {
    port_.setCommPort(7);  // nothing maps COM7
    try {
        port_.setPortOpen(true);
        FAIL() << "COM7 opened";
    } catch (const CommError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("com7"), std::string::npos) << text;
        EXPECT_NE(text.find("no such port"), std::string::npos) << text;
    }
    EXPECT_FALSE(port_.PortOpen());
    port_.setCommPort(0);
    EXPECT_THROW(port_.setPortOpen(true), CommError);
    EXPECT_EQ(DevicePathForPort("", 12), "\\\\.\\COM12");
    EXPECT_EQ(DevicePathForPort("", 0), "");
}

TEST_F(SerialPortWin, AnIdlePortRunsNothing) {
    port_.setRThreshold(1);  // as the engine opens it: input wakes the pump
    openAt("2400,e,7,1");
    RunFor(io_, 100);
    io_.restart();
    // Only the pending read: in a second not one handler runs. (Counted, not timed: Wine's own
    // threads make the process's CPU time a poor measure on a loaded machine.)
    EXPECT_EQ(io_.run_for(std::chrono::seconds(1)), 0u);
    terminal_.send("z");
    RunUntil(
        io_, [&] { return !events_.empty(); }, 3000);
    EXPECT_EQ(events_, std::vector<int>{comEvReceive});
}

TEST_F(SerialPortWin, EachChangeOfClearToSendIsOneEvent) {
    // A pty has no modem lines: a reader stands in for them, looked at on a timer.
    auto lines = std::make_shared<int>(kModemLineCTS);
    port_.setModemLineReader([lines](PortHandle) { return *lines; });
    openAt("2400,e,7,1");
    RunFor(io_, 250);
    EXPECT_TRUE(events_.empty());
    *lines = 0;
    RunUntil(
        io_, [&] { return !events_.empty(); }, 2000);
    *lines = 0x100;  // another line: no event
    RunFor(io_, 250);
    *lines = kModemLineCTS;
    RunUntil(
        io_, [&] { return events_.size() >= 2; }, 2000);
    RunFor(io_, 250);
    EXPECT_EQ(events_, (std::vector<int>{comEvCTS, comEvCTS}));
    EXPECT_FALSE(port_.HasLineHardware());  // the reader does not make the pty hardware
}

TEST_F(SerialPortWin, TheDeviceListHasTheRegistrysPortsInNumberOrder) {
    const std::vector<std::string> ports = SerialDevices();
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(ports.front(), "com1");
    for (std::size_t i = 1; i < ports.size(); ++i)
        EXPECT_LT(std::atoi(ports[i - 1].c_str() + 3), std::atoi(ports[i].c_str() + 3));
}

}  // namespace
}  // namespace corvane::testing

int main(int argc, char** argv) {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
