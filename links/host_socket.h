// The host socket component `SSL`: a plain TCP client with the operations and events the
// bridge uses. Status texts name the address, the port and the reason.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace corvane {

class HostSocket : public QObject {
    Q_OBJECT

  public:
    explicit HostSocket(QObject* parent = nullptr);
    ~HostSocket() override;

    // 3 = never negotiate TLS (plain TCP), the only mode the bridge uses.
    void setSSLStartMode(int mode) { securityMode_ = mode; }
    int SSLStartMode() const { return securityMode_; }
    void setLinger(bool on) { linger_ = on; }
    bool Linger() const { return linger_; }
    void setKeepAlive(bool on) { keepAlive_ = on; }
    bool KeepAlive() const { return keepAlive_; }

    // Starts connecting and returns; progress and failure arrive as events.
    void Connect(const QString& host, int port);
    // Delivers the component's pending events now (received data, a close by the peer).
    void DoEvents();
    bool Connected() const;
    // Hands the characters to the connection, in order, unchanged; an Error event when not
    // connected.
    void Send(const QByteArray& text);
    // Starts closing and returns; Connected turns False when the link is down.
    void Disconnect();

    // False: no DataIn events; what the host sends waits in the component (at most 64 KiB,
    // the most one DataIn carries) and then in the system, whose receive window holds the
    // host back. True again delivers what waited, in order. A new Connect sets it True.
    void setAcceptData(bool accept);
    bool AcceptData() const { return acceptData_; }
    // Bytes handed to Send and not yet taken by the system.
    qint64 BytesToWrite() const;

  signals:
    void DataIn(const QByteArray& text, bool endOfLine);
    void ConnectionStatus(const QString& connectionEvent, int statusCode,
                          const QString& description);
    void Disconnected(int statusCode, const QString& description);
    void Error(int errorCode, const QString& description);
    void SSLServerAuthentication(const QByteArray& certEncoded, const QString& certSubject,
                                 const QString& certIssuer, const QString& status, bool* accept);
    void SSLStatus(const QString& message);

  private:
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onError();

    QTcpSocket* socket_ = nullptr;
    int securityMode_ = 0;
    bool linger_ = false;
    bool keepAlive_ = false;
    QString host_;
    int port_ = 0;
    bool reportedDown_ = true;
    bool acceptData_ = true;
};

}  // namespace corvane
