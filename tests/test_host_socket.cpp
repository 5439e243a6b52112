// The host socket against a real TCP host on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "links/host_socket.h"
#include "rig/loopback_host.h"
#include "rig/wait.h"
#include "tests/test_helpers.h"

using corvane::HostSocket;
using corvane::rig::LoopbackHost;
using corvane::rig::RunFor;
using corvane::rig::RunUntil;
using corvane::testing::AllByteValues;
using corvane::testing::StartsWith;

namespace {

constexpr int kWait = 10000;
constexpr int kConnectionRefused = 0;  // the component's code for a refused connection
constexpr std::size_t kOneDataInAtMost = 64 * 1024;
std::string Noise(std::size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 gen(static_cast<unsigned>(size));
    for (char& b : bytes) b = static_cast<char>(gen() & 0xFF);
    return bytes;
}
std::string JoinedLines(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "; ";
    return all;
}

class HostSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(host.listening()) << host.errorString();
        Record(sock);
    }

    // Every event of `s` goes to the lists below.
    void Record(HostSocket& s) {
        s.DataIn = [this](const std::string& text, bool) {
            in += text;
            biggestDataIn = std::max(biggestDataIn, text.size());
        };
        s.ConnectionStatus = [this](const std::string& event, int, const std::string& text) {
            statuses.push_back(event + "|" + text);
        };
        s.Disconnected = [this](int, const std::string& text) {
            downs.push_back(text);
            inAtDown.push_back(in.size());
        };
        s.Error = [this](int code, const std::string& text) {
            errors.push_back(text);
            errorCodes.push_back(code);
        };
    }
    std::size_t Events() const {
        return in.size() + statuses.size() + downs.size() + errors.size();
    }

    bool Until(const std::function<bool()>& cond, int ms = kWait) { return RunUntil(io, cond, ms); }
    void ConnectUp() {
        sock.Connect("127.0.0.1", host.port());
        ASSERT_TRUE(Until([&] { return sock.Connected() && host.connected(); }));
    }
    std::string Where() const { return "127.0.0.1 port " + std::to_string(host.port()); }

    asio::io_context io;
    LoopbackHost host{io};
    HostSocket sock{io};
    std::string in;
    std::size_t biggestDataIn = 0;
    std::vector<std::string> statuses, downs, errors;
    std::vector<std::size_t> inAtDown;
    std::vector<int> errorCodes;
};

TEST_F(HostSocketTest, ConnectReportsProgressAndConnectedFollowsState) {
    EXPECT_FALSE(sock.Connected());
    sock.Connect("127.0.0.1", host.port());
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0], "Connecting|Connecting to " + Where());
    ASSERT_TRUE(Until([&] { return sock.Connected(); }));
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[1], "Connected|Connected to " + Where() + " (127.0.0.1)");
    EXPECT_TRUE(host.waitForConnection(kWait));  // its accept may run a turn later
    EXPECT_EQ(host.connectionCount(), 1);
    EXPECT_TRUE(errors.empty());
}

TEST_F(HostSocketTest, ByNameGreetedAndEchoed) {
    LoopbackHost greeter(io, 0, "WELCOME\r\n");
    ASSERT_TRUE(greeter.listening());
    greeter.setEcho(true);
    sock.Connect("localhost", greeter.port());
    ASSERT_TRUE(Until([&] { return in == "WELCOME\r\n"; }));
    sock.Send("ping");
    ASSERT_TRUE(Until([&] { return in.size() >= 13; }));
    EXPECT_EQ(in, "WELCOME\r\nping");
    EXPECT_EQ(greeter.received(), "ping");
    EXPECT_TRUE(errors.empty()) << JoinedLines(errors);
}

TEST_F(HostSocketTest, EveryByteValueAndLargeTransfersPassUnchangedBothWays) {
    ConnectUp();
    for (const std::string& data : {AllByteValues(), Noise(1 << 20)}) {
        host.takeReceived();
        in.clear();
        sock.Send(data);
        host.send(data);
        ASSERT_TRUE(host.waitForBytes(static_cast<int>(data.size()), kWait));
        ASSERT_TRUE(Until([&] { return in.size() >= data.size(); }));
        EXPECT_TRUE(host.received() == data);
        EXPECT_TRUE(in == data);
    }
    EXPECT_LE(biggestDataIn, kOneDataInAtMost);
    EXPECT_TRUE(errors.empty());
}

TEST_F(HostSocketTest, SendQueuesWhatAStalledHostCannotTakeAndDeliversItLater) {
    ConnectUp();
    host.setReading(false);
    const std::string data = Noise(8 << 20);
    const auto before = std::chrono::steady_clock::now();
    sock.Send(data);  // must return although the system cannot take it all
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(sock.BytesToWrite(), static_cast<std::int64_t>(data.size()));
    RunFor(io, 200);
    EXPECT_TRUE(sock.Connected());
    const std::int64_t stuck = sock.BytesToWrite();
    EXPECT_GT(stuck, 0);
    EXPECT_LT(stuck, static_cast<std::int64_t>(data.size()));  // the system took a part
    const std::string more = AllByteValues();
    sock.Send(more);
    EXPECT_EQ(sock.BytesToWrite(), stuck + static_cast<std::int64_t>(more.size()));

    // A host that reads in short spells, with pauses between them.
    int turn = 0;
    ASSERT_TRUE(Until(
        [&] {
            host.setReading(++turn % 4 == 0);
            return host.received().size() >= data.size() + more.size();
        },
        60000));
    EXPECT_TRUE(host.received() == data + more);
    EXPECT_TRUE(Until([&] { return sock.BytesToWrite() == 0; }));
    EXPECT_TRUE(errors.empty());
}

TEST_F(HostSocketTest, DoEventsDeliversWaitingDataAndAPeerCloseWithoutTheEventLoop) {
    ConnectUp();
    for (int i = 0; i < 1000; ++i) sock.DoEvents();  // idle polls find nothing: not an error
    EXPECT_TRUE(errors.empty()) << JoinedLines(errors);
    EXPECT_TRUE(sock.Connected());

    host.send("hello");
    // Only DoEvents may deliver: the io_context does not run here.
    for (int i = 0; i < 100 && in.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sock.DoEvents();
    }
    EXPECT_EQ(in, "hello");

    host.closeConnection();
    for (int i = 0; i < 100 && downs.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sock.DoEvents();
    }
    EXPECT_EQ(downs.size(), 1u);
    EXPECT_FALSE(sock.Connected());
}

TEST_F(HostSocketTest, FailedOrInvalidConnectIsReportedAndLeavesItUnconnected) {
    std::uint16_t deadPort = 0;
    {
        asio::ip::tcp::acceptor probe(io, {asio::ip::address_v4::loopback(), 0});
        deadPort = probe.local_endpoint().port();
    }

    sock.Connect("127.0.0.1", deadPort);
    ASSERT_TRUE(Until([&] { return !errors.empty(); }));
    EXPECT_EQ(errorCodes[0], kConnectionRefused);
    EXPECT_TRUE(StartsWith(errors[0],
                           "Cannot connect to 127.0.0.1 port " + std::to_string(deadPort) + ": "))
        << errors[0];
    std::string lower = errors[0];
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_NE(lower.find("refused"), std::string::npos) << errors[0];
    EXPECT_FALSE(sock.Connected());
    EXPECT_TRUE(downs.empty());

    statuses.clear();
    errors.clear();
    for (int port : {0, -1, 65536}) sock.Connect("127.0.0.1", port);
    sock.Connect("", host.port());
    EXPECT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors.back(),
              "Cannot connect: no host name given (port " + std::to_string(host.port()) + ")");
    EXPECT_EQ(errors[0], "Cannot connect to 127.0.0.1 port 0: the port must be 1 to 65535");
    EXPECT_TRUE(statuses.empty());
    RunFor(io, 100);
    EXPECT_EQ(host.connectionCount(), 0);
}

TEST_F(HostSocketTest, HostCloseOrResetGivesExactlyOneDisconnected) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        downs.clear();
        errors.clear();
        ConnectUp();
        if (reset)
            host.resetConnection();
        else
            host.closeConnection();
        ASSERT_TRUE(Until([&] { return !downs.empty(); }));
        RunFor(io, 100);
        sock.Disconnect();  // nothing left to close
        sock.DoEvents();
        EXPECT_EQ(downs.size(), 1u);
        EXPECT_TRUE(StartsWith(downs[0], "Disconnected from " + Where() + ": ")) << downs[0];
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(StartsWith(errors[0], "Connection to " + Where() + ": ")) << errors[0];
        EXPECT_FALSE(sock.Connected());
    }
}

TEST_F(HostSocketTest, OurDisconnectDeliversPendingDataThenCloses) {
    ConnectUp();
    const std::string data = Noise(4 << 20);
    sock.Send(data);
    sock.Disconnect();
    EXPECT_TRUE(Until([&] { return !sock.Connected(); }));
    ASSERT_TRUE(host.waitForBytes(static_cast<int>(data.size()), 30000));
    EXPECT_TRUE(host.waitForDisconnect(kWait));
    EXPECT_TRUE(host.received() == data);
    EXPECT_TRUE(Until([&] { return downs.size() == 1; }));
    EXPECT_EQ(downs[0], "Disconnected from " + Where());
    EXPECT_TRUE(errors.empty()) << JoinedLines(errors);
}

TEST_F(HostSocketTest, SendWhileNotConnectedReportsAndDrops) {
    sock.Send("abc");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Not connected: 3 bytes not sent");

    ConnectUp();
    sock.Disconnect();
    ASSERT_TRUE(host.waitForDisconnect(kWait));
    sock.Send("wxyz");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1], "Not connected: 4 bytes not sent to " + Where());
    RunFor(io, 100);
    EXPECT_TRUE(host.received().empty());
}

TEST_F(HostSocketTest, ConnectAgainReplacesTheLinkOrTheAttempt) {
    ConnectUp();
    sock.Connect("127.0.0.1", host.port());
    EXPECT_EQ(downs.size(), 1u);  // the old link, once
    ASSERT_TRUE(Until([&] { return host.connectionCount() == 2 && sock.Connected(); }));

    sock.Connect("127.0.0.1", host.port());
    sock.Connect("127.0.0.1", host.port());  // while still connecting
    ASSERT_TRUE(Until([&] { return sock.Connected() && host.connected(); }));
    sock.Send("new");
    ASSERT_TRUE(host.waitForBytes(3, kWait));
    EXPECT_EQ(host.received(), "new");
    EXPECT_EQ(downs.size(), 2u);
    EXPECT_TRUE(errors.empty()) << JoinedLines(errors);
}

TEST_F(HostSocketTest, DisconnectCutsAnAttemptAndASecondOneCutsAHangingClose) {
    sock.Connect("127.0.0.1", host.port());
    sock.Disconnect();  // while resolving: cut without a report
    RunFor(io, 100);
    EXPECT_FALSE(sock.Connected());
    EXPECT_EQ(statuses.size(), 1u);
    EXPECT_TRUE(downs.empty());
    EXPECT_TRUE(errors.empty()) << JoinedLines(errors);

    // A host that does not read keeps what we queued from going out: the close waits for it.
    ConnectUp();
    host.setReading(false);
    sock.Send(Noise(16 << 20));
    sock.Disconnect();
    RunFor(io, 100);
    EXPECT_TRUE(sock.Connected());
    EXPECT_TRUE(downs.empty());
    sock.Send("late");  // a closing link takes nothing more
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Not connected: 4 bytes not sent to " + Where());

    sock.Disconnect();
    EXPECT_FALSE(sock.Connected());
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0], "Disconnected from " + Where());
}

TEST_F(HostSocketTest, AGracefulCloseEndsOnceSentWithoutWaitingForTheHostsSide) {
    ConnectUp();
    host.setReading(false);  // it will not see our end of file, so it never closes its side
    sock.Send("bye");
    sock.Disconnect();
    ASSERT_TRUE(Until([&] { return !sock.Connected(); }));
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0], "Disconnected from " + Where());
    EXPECT_TRUE(errors.empty()) << JoinedLines(errors);
    host.setReading(true);
    ASSERT_TRUE(host.waitForBytes(3, 2000));
    EXPECT_EQ(host.received(), "bye");  // what was queued went out before the close
}

TEST_F(HostSocketTest, DataThatCameWithTheHostsCloseIsDeliveredBeforeDisconnected) {
    for (bool heldBack : {false, true}) {
        SCOPED_TRACE(heldBack ? "held back while the host closed" : "accepting");
        in.clear();
        downs.clear();
        inAtDown.clear();
        ConnectUp();
        if (heldBack) sock.setAcceptData(false);
        const std::string data = Noise(heldBack ? 300 << 10 : 1 << 20);
        host.send(data);
        host.closeConnection();  // its queue goes first, then the close
        if (heldBack) {
            RunFor(io, 200);
            EXPECT_TRUE(in.empty());  // nothing is read, so the close is not seen either
            EXPECT_TRUE(downs.empty());
            EXPECT_TRUE(sock.Connected());
            sock.setAcceptData(true);
        }
        ASSERT_TRUE(Until([&] { return !downs.empty(); }));
        EXPECT_TRUE(in == data) << in.size() << " of " << data.size();
        EXPECT_EQ(inAtDown[0], data.size());
        EXPECT_EQ(downs.size(), 1u);
    }
}

TEST_F(HostSocketTest, HeldBackDataBacksUpTheHostAndComesInOrderLater) {
    ConnectUp();
    // Like the bridge: every delivery may be the last until the terminal's side drains.
    int lateDeliveries = 0;
    sock.DataIn = [&](const std::string& text, bool) {
        if (!sock.AcceptData()) ++lateDeliveries;
        in += text;
        biggestDataIn = std::max(biggestDataIn, text.size());
        sock.setAcceptData(false);
    };
    sock.setAcceptData(false);
    const std::string data = Noise(4 << 20);
    host.send(data);
    RunFor(io, 300);
    EXPECT_TRUE(in.empty());
    EXPECT_GT(host.pendingOut(), 0);  // the receive window holds the host back
    EXPECT_TRUE(sock.Connected());

    int turn = 0;
    ASSERT_TRUE(Until(
        [&] {
            if (!sock.AcceptData()) {
                sock.setAcceptData(true);
                if (++turn % 2) sock.DoEvents();  // half the pieces come through DoEvents
            }
            return in.size() >= data.size();
        },
        30000));
    EXPECT_TRUE(in == data) << in.size() << " of " << data.size();
    EXPECT_EQ(lateDeliveries, 0);
    EXPECT_LE(biggestDataIn, kOneDataInAtMost);
    EXPECT_EQ(host.pendingOut(), 0);
}

TEST_F(HostSocketTest, AFailedWriteEndsTheLinkAfterTheDataThatCameBeforeIt) {
    ConnectUp();
    sock.setAcceptData(false);
    host.send("last words");
    RunFor(io, 50);
    host.resetConnection();
    ASSERT_TRUE(Until([&] {
        if (sock.Connected()) sock.Send("x");
        return !sock.Connected();
    }));
    ASSERT_EQ(errors.size(), 1u);  // told at once, so that a wait for the link wakes
    EXPECT_TRUE(StartsWith(errors[0], "Connection to " + Where() + ": ")) << errors[0];
    RunFor(io, 100);
    EXPECT_TRUE(downs.empty());  // the end is reported behind the data

    sock.setAcceptData(true);
    ASSERT_TRUE(Until([&] { return !downs.empty(); }));
    EXPECT_EQ(in, "last words");
    EXPECT_EQ(inAtDown[0], in.size());
    EXPECT_TRUE(StartsWith(downs[0], "Disconnected from " + Where() + ": ")) << downs[0];
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(sock.BytesToWrite(), 0);
}

TEST_F(HostSocketTest, DestroyingItMidConnectMidTransferOrInItsOwnHandlerIsQuiet) {
    // Somewhere in resolving or connecting, by address and by name.
    for (int turns = 0; turns < 8; ++turns) {
        auto s = std::make_unique<HostSocket>(io);
        Record(*s);
        s->Connect(turns % 2 ? "localhost" : "127.0.0.1", host.port());
        for (int i = 0; i < turns / 2; ++i) {
            if (io.stopped()) io.restart();
            io.run_one_for(std::chrono::milliseconds(20));
        }
    }
    const std::size_t events = Events();
    RunFor(io, 200);
    EXPECT_EQ(Events(), events);

    // With megabytes queued both ways.
    auto s = std::make_unique<HostSocket>(io);
    Record(*s);
    s->Connect("127.0.0.1", host.port());
    ASSERT_TRUE(Until([&] { return s->Connected() && host.connected(); }));
    host.setReading(false);
    s->Send(Noise(4 << 20));
    host.send(Noise(4 << 20));
    RunFor(io, 50);
    s.reset();
    const std::size_t midTransfer = Events();
    host.setReading(true);
    EXPECT_TRUE(host.waitForDisconnect(kWait));
    RunFor(io, 100);
    EXPECT_EQ(Events(), midTransfer);

    // From inside its own DataIn and Error handlers.
    for (bool inError : {false, true}) {
        s = std::make_unique<HostSocket>(io);
        Record(*s);
        if (inError)
            s->Error = [&](int, const std::string&) { s.reset(); };
        else
            s->DataIn = [&](const std::string&, bool) { s.reset(); };
        s->Connect("127.0.0.1", host.port());
        ASSERT_TRUE(Until([&] { return s->Connected() && host.connected(); }));
        host.send(Noise(256 << 10));
        host.resetConnection();
        ASSERT_TRUE(Until([&] { return s == nullptr; }));
        RunFor(io, 50);
    }
}

}  // namespace
