// A stand-in PLATO host on 127.0.0.1 for tests, benchmarks and trying the bridge.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

namespace corvane::rig {

class LoopbackHost : public QObject {
    Q_OBJECT

  public:
    // Port 0 takes any free port; port() tells which. Each connection is greeted with the
    // banner when it is not empty.
    explicit LoopbackHost(quint16 port = 0, QByteArray banner = {}, QObject* parent = nullptr);
    ~LoopbackHost() override;

    bool listening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }
    QString errorString() const { return server_.errorString(); }
    void stopListening() { server_.close(); }

    // Connections accepted so far; the newest one is the current one.
    int connectionCount() const { return connectionCount_; }
    bool connected() const;

    // Everything received on any connection, in arrival order.
    QByteArray received() const { return received_; }
    QByteArray takeReceived();
    // Reads that brought data, to see how the bytes were split.
    int readCount() const { return readCount_; }

    // To the current connection; written out at once as far as the system takes it.
    void send(const QByteArray& bytes);
    // What send() took that the system has not yet taken from the current connection.
    qint64 pendingOut() const;
    // Graceful close of the current connection; pending writes go first.
    void closeConnection();
    // Abortive close: the peer sees a reset.
    void resetConnection();

    void setEcho(bool on) { echo_ = on; }
    // Off: the host stops reading its sockets, so the peer's writes back up (fault tests).
    void setReading(bool on);

    // Bounded waits that keep the event loop running.
    bool waitForConnection(int timeoutMs);
    bool waitForBytes(int n, int timeoutMs);
    bool waitForDisconnect(int timeoutMs);

  signals:
    void connectedChanged(bool connected);

  private:
    void onNewConnection();
    void readFrom(QTcpSocket* socket);

    QTcpServer server_;
    QPointer<QTcpSocket> current_;
    QByteArray banner_;
    QByteArray received_;
    int connectionCount_ = 0;
    int readCount_ = 0;
    bool echo_ = false;
    bool reading_ = true;
};

}  // namespace corvane::rig
