// The host socket against a real TCP host on 127.0.0.1.
#include <gtest/gtest.h>

#include <QAbstractSocket>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>

#include "links/host_socket.h"
#include "rig/loopback_host.h"
#include "rig/wait.h"

using corvane::HostSocket;
using corvane::rig::LoopbackHost;
using corvane::rig::RunFor;
using corvane::rig::RunUntil;

namespace {

constexpr int kWait = 10000;

QByteArray AllByteValues() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

QByteArray Noise(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(size);
    for (char& b : bytes) b = static_cast<char>(gen.bounded(256));
    return bytes;
}

class HostSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(host.listening()) << host.errorString().toStdString();
        QObject::connect(&sock, &HostSocket::DataIn,
                         [this](const QByteArray& text, bool) { in += text; });
        QObject::connect(&sock, &HostSocket::ConnectionStatus,
                         [this](const QString& event, int, const QString& text) {
                             statuses << event + "|" + text;
                         });
        QObject::connect(&sock, &HostSocket::Disconnected,
                         [this](int, const QString& text) { downs << text; });
        QObject::connect(&sock, &HostSocket::Error, [this](int code, const QString& text) {
            errors << text;
            errorCodes << code;
        });
    }

    void ConnectUp() {
        sock.Connect("127.0.0.1", host.port());
        ASSERT_TRUE(RunUntil([&] { return sock.Connected() && host.connected(); }, kWait));
    }
    QString Where() const { return QString("127.0.0.1 port %1").arg(host.port()); }

    LoopbackHost host;
    HostSocket sock;
    QByteArray in;
    QStringList statuses, downs, errors;
    QList<int> errorCodes;
};

TEST_F(HostSocketTest, ConnectReportsProgressAndConnectedFollowsState) {
    EXPECT_FALSE(sock.Connected());
    sock.Connect("127.0.0.1", host.port());
    ASSERT_EQ(statuses.size(), 1);
    EXPECT_EQ(statuses[0], "Connecting|Connecting to " + Where());
    ASSERT_TRUE(RunUntil([&] { return sock.Connected(); }, kWait));
    ASSERT_EQ(statuses.size(), 2);
    EXPECT_EQ(statuses[1], "Connected|Connected to " + Where() + " (127.0.0.1)");
    EXPECT_EQ(host.connectionCount(), 1);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(HostSocketTest, ByNameGreetedAndEchoed) {
    LoopbackHost greeter(0, "WELCOME\r\n");
    ASSERT_TRUE(greeter.listening());
    greeter.setEcho(true);
    sock.Connect("localhost", greeter.port());
    ASSERT_TRUE(RunUntil([&] { return in == "WELCOME\r\n"; }, kWait));
    sock.Send("ping");
    ASSERT_TRUE(RunUntil([&] { return in.size() >= 13; }, kWait));
    EXPECT_EQ(in, "WELCOME\r\nping");
    EXPECT_EQ(greeter.received(), "ping");
    EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
}

TEST_F(HostSocketTest, EveryByteValueAndLargeTransfersPassUnchangedBothWays) {
    ConnectUp();
    for (const QByteArray& data : {AllByteValues(), Noise(1 << 20)}) {
        host.takeReceived();
        in.clear();
        sock.Send(data);
        host.send(data);
        ASSERT_TRUE(host.waitForBytes(data.size(), kWait));
        ASSERT_TRUE(RunUntil([&] { return in.size() >= data.size(); }, kWait));
        EXPECT_EQ(host.received(), data);
        EXPECT_EQ(in, data);
    }
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(HostSocketTest, SendQueuesWhatAStalledHostCannotTakeAndDeliversItLater) {
    ConnectUp();
    host.setReading(false);
    const QByteArray data = Noise(8 << 20);
    sock.Send(data);  // must return although the system cannot take it all
    RunFor(200);
    EXPECT_TRUE(sock.Connected());
    host.setReading(true);
    ASSERT_TRUE(host.waitForBytes(data.size(), 30000));
    EXPECT_EQ(host.received(), data);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(HostSocketTest, DoEventsDeliversWaitingDataAndAPeerCloseWithoutTheEventLoop) {
    ConnectUp();
    for (int i = 0; i < 1000; ++i) sock.DoEvents();  // idle polls time out: not an error
    EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
    EXPECT_TRUE(sock.Connected());

    host.send("hello");
    // Only DoEvents may deliver: the application's loop does not run here.
    for (int i = 0; i < 100 && in.isEmpty(); ++i) {
        QThread::msleep(50);
        sock.DoEvents();
    }
    EXPECT_EQ(in, "hello");

    host.closeConnection();
    for (int i = 0; i < 100 && downs.isEmpty(); ++i) {
        QThread::msleep(50);
        sock.DoEvents();
    }
    EXPECT_EQ(downs.size(), 1);
    EXPECT_FALSE(sock.Connected());
}

TEST_F(HostSocketTest, FailedOrInvalidConnectIsReportedAndLeavesItUnconnected) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 deadPort = probe.serverPort();
    probe.close();

    sock.Connect("127.0.0.1", deadPort);
    ASSERT_TRUE(RunUntil([&] { return !errors.isEmpty(); }, kWait));
    EXPECT_EQ(errorCodes[0], QAbstractSocket::ConnectionRefusedError);
    EXPECT_TRUE(
        errors[0].startsWith(QString("Cannot connect to 127.0.0.1 port %1: ").arg(deadPort)))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("refused", Qt::CaseInsensitive));
    EXPECT_FALSE(sock.Connected());
    EXPECT_TRUE(downs.isEmpty());

    statuses.clear();
    errors.clear();
    for (int port : {0, -1, 65536}) sock.Connect("127.0.0.1", port);
    sock.Connect("", host.port());
    EXPECT_EQ(errors.size(), 4);
    EXPECT_TRUE(statuses.isEmpty());
    RunFor(100);
    EXPECT_EQ(host.connectionCount(), 0);
}

TEST_F(HostSocketTest, HostCloseOrResetGivesExactlyOneDisconnected) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        downs.clear();
        ConnectUp();
        if (reset)
            host.resetConnection();
        else
            host.closeConnection();
        ASSERT_TRUE(RunUntil([&] { return !downs.isEmpty(); }, kWait));
        RunFor(100);
        sock.Disconnect();  // nothing left to close
        sock.DoEvents();
        EXPECT_EQ(downs.size(), 1);
        EXPECT_TRUE(downs[0].startsWith("Disconnected from " + Where() + ": "))
            << downs[0].toStdString();
        EXPECT_FALSE(sock.Connected());
    }
}

TEST_F(HostSocketTest, OurDisconnectDeliversPendingDataThenCloses) {
    ConnectUp();
    const QByteArray data = Noise(4 << 20);
    sock.Send(data);
    sock.Disconnect();
    EXPECT_TRUE(RunUntil([&] { return !sock.Connected(); }, kWait));
    ASSERT_TRUE(host.waitForBytes(data.size(), 30000));
    EXPECT_TRUE(host.waitForDisconnect(kWait));
    EXPECT_EQ(host.received(), data);
    EXPECT_TRUE(RunUntil([&] { return downs.size() == 1; }, kWait));
    EXPECT_EQ(downs[0], "Disconnected from " + Where());
}

TEST_F(HostSocketTest, SendWhileNotConnectedReportsAndDrops) {
    sock.Send("abc");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Not connected: 3 bytes not sent"));

    ConnectUp();
    sock.Disconnect();
    ASSERT_TRUE(host.waitForDisconnect(kWait));
    sock.Send("wxyz");
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[1], "Not connected: 4 bytes not sent to " + Where());
    RunFor(100);
    EXPECT_TRUE(host.received().isEmpty());
}

TEST_F(HostSocketTest, ConnectAgainReplacesTheLinkOrTheAttempt) {
    ConnectUp();
    sock.Connect("127.0.0.1", host.port());
    EXPECT_EQ(downs.size(), 1);  // the old link, once
    ASSERT_TRUE(RunUntil([&] { return host.connectionCount() == 2 && sock.Connected(); }, kWait));

    sock.Connect("127.0.0.1", host.port());
    sock.Connect("127.0.0.1", host.port());  // while still connecting
    ASSERT_TRUE(RunUntil([&] { return sock.Connected() && host.connected(); }, kWait));
    sock.Send("new");
    ASSERT_TRUE(host.waitForBytes(3, kWait));
    EXPECT_EQ(host.received(), "new");
    EXPECT_EQ(downs.size(), 2);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
}

}  // namespace
