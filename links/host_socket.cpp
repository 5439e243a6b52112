#include "links/host_socket.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace corvane {

namespace {

// What the component reads from the system at most before it hands it on: one DataIn is never
// larger, and while data is not accepted this is all the component holds; beyond it the
// system's buffers and the TCP window push back on the host.
constexpr qint64 kReadAtMost = 64 * 1024;

QString Where(const QString& host, int port) {
    return QStringLiteral("%1 port %2").arg(host).arg(port);
}

}  // namespace

HostSocket::HostSocket(QObject* parent) : QObject(parent) {
    socket_ = new QTcpSocket(this);
    socket_->setReadBufferSize(kReadAtMost);
    connect(socket_, &QTcpSocket::connected, this, &HostSocket::onConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &HostSocket::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &HostSocket::onDisconnected);
    connect(socket_, &QTcpSocket::errorOccurred, this, &HostSocket::onError);
}

HostSocket::~HostSocket() {
    // No events from a half-destroyed component: drop the link quietly.
    disconnect(socket_, nullptr, this, nullptr);
    socket_->abort();
}

void HostSocket::Connect(const QString& host, int port) {
    // A new request replaces whatever link or attempt there was; an established link
    // reports its Disconnected (with its own address) from inside abort().
    if (socket_->state() != QAbstractSocket::UnconnectedState) socket_->abort();
    reportedDown_ = true;
    setAcceptData(true);
    host_ = host;
    port_ = port;

    if (host.trimmed().isEmpty()) {
        emit Error(QAbstractSocket::HostNotFoundError,
                   QStringLiteral("Cannot connect: no host name given (port %1)").arg(port));
        return;
    }
    if (port < 1 || port > 65535) {
        emit Error(QAbstractSocket::UnsupportedSocketOperationError,
                   QStringLiteral("Cannot connect to %1: the port must be 1 to 65535")
                       .arg(Where(host, port)));
        return;
    }

    // There is no TLS in this program: every security mode, 3 included, is plain TCP.
    // Linger: Qt writes out its own buffer before it closes and the system then closes
    // gracefully in the background, which is what the linger option asks for; a timed
    // SO_LINGER would instead block this thread in close() and discard data at the deadline.
    // Keep-alive needs the socket to exist, so it is applied once connected.
    emit ConnectionStatus(QStringLiteral("Connecting"), 0,
                          QStringLiteral("Connecting to %1").arg(Where(host, port)));
    socket_->connectToHost(host, static_cast<quint16>(port));
}

void HostSocket::DoEvents() {
    if (!acceptData_) return;
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        // What came before a close is still delivered, once data is accepted again.
        if (socket_->bytesAvailable() > 0) onReadyRead();
        return;
    }
    // Zero timeout: reads what is waiting (readyRead fires inside), notices a close by the
    // peer and writes what the system will take, without running the application's loop.
    // Its timeout when nothing is waiting is not an error (see onError).
    socket_->waitForReadyRead(0);
    // readyRead is not re-emitted while a DataIn handler runs; pick up what it left behind.
    if (socket_->bytesAvailable() > 0) onReadyRead();
}

bool HostSocket::Connected() const { return socket_->state() == QAbstractSocket::ConnectedState; }

void HostSocket::Send(const QByteArray& text) {
    if (text.isEmpty()) return;
    if (!Connected()) {
        const QString where =
            host_.isEmpty() ? QString() : QStringLiteral(" to ") + Where(host_, port_);
        emit Error(
            QAbstractSocket::OperationError,
            QStringLiteral("Not connected: %1 bytes not sent%2").arg(text.size()).arg(where));
        return;
    }
    // Qt keeps whatever the system does not take now and writes it from the event loop, so
    // nothing is lost and this never blocks.
    socket_->write(text);
    socket_->flush();
}

void HostSocket::Disconnect() {
    switch (socket_->state()) {
        case QAbstractSocket::ConnectedState:
            socket_->disconnectFromHost();  // graceful: pending writes go out first
            break;
        case QAbstractSocket::HostLookupState:
        case QAbstractSocket::ConnectingState:
        case QAbstractSocket::ClosingState:  // a second Disconnect cuts a close that hangs
            socket_->abort();
            break;
        default:
            break;
    }
}

void HostSocket::setAcceptData(bool accept) {
    if (accept == acceptData_) return;
    acceptData_ = accept;
    // Qt stops reading from the system once its limited buffer is full.
    if (accept && socket_->bytesAvailable() > 0) onReadyRead();
}

qint64 HostSocket::BytesToWrite() const { return socket_->bytesToWrite(); }

void HostSocket::onConnected() {
    reportedDown_ = false;
    if (keepAlive_) socket_->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    emit ConnectionStatus(QStringLiteral("Connected"), 0,
                          QStringLiteral("Connected to %1 (%2)")
                              .arg(Where(host_, port_), socket_->peerAddress().toString()));
}

void HostSocket::onReadyRead() {
    // A DataIn handler may poll again, which buffers more without a new readyRead.
    while (acceptData_ && socket_->bytesAvailable() > 0) {
        const QByteArray text = socket_->readAll();
        if (text.isEmpty()) break;
        emit DataIn(text, false);
    }
}

void HostSocket::onDisconnected() {
    if (reportedDown_) return;
    reportedDown_ = true;
    // Data that arrived just before the close is still delivered.
    if (socket_->bytesAvailable() > 0) onReadyRead();
    QString text = QStringLiteral("Disconnected from ") + Where(host_, port_);
    int code = 0;
    const auto error = socket_->error();
    if (error != QAbstractSocket::UnknownSocketError &&
        error != QAbstractSocket::SocketTimeoutError) {
        code = error;
        text += QStringLiteral(": ") + socket_->errorString();
    }
    emit Disconnected(code, text);
}

void HostSocket::onError() {
    const auto error = socket_->error();
    // A timeout on a live link can only come from DoEvents' zero-timeout poll; a real
    // connect timeout leaves the socket unconnected and is reported.
    if (error == QAbstractSocket::SocketTimeoutError &&
        socket_->state() == QAbstractSocket::ConnectedState)
        return;
    const QString prefix =
        reportedDown_ ? QStringLiteral("Cannot connect to ") : QStringLiteral("Connection to ");
    emit Error(error, prefix + Where(host_, port_) + QStringLiteral(": ") + socket_->errorString());
}

}  // namespace corvane
