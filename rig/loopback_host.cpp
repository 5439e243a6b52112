#include "rig/loopback_host.h"

#include <sys/socket.h>

#include <QHostAddress>
#include <QTcpSocket>

#include "rig/wait.h"

namespace corvane::rig {

LoopbackHost::LoopbackHost(quint16 port, QByteArray banner, QObject* parent)
    : QObject(parent), banner_(std::move(banner)) {
    connect(&server_, &QTcpServer::newConnection, this, &LoopbackHost::onNewConnection);
    server_.listen(QHostAddress::LocalHost, port);
}

LoopbackHost::~LoopbackHost() {
    server_.close();
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
    }
}

bool LoopbackHost::connected() const {
    return current_ && current_->state() == QAbstractSocket::ConnectedState;
}

QByteArray LoopbackHost::takeReceived() {
    QByteArray all;
    all.swap(received_);
    return all;
}

void LoopbackHost::send(const QByteArray& bytes) {
    if (!connected()) return;
    current_->write(bytes);
    current_->flush();
}

qint64 LoopbackHost::pendingOut() const { return current_ ? current_->bytesToWrite() : 0; }

void LoopbackHost::closeConnection() {
    if (current_) current_->disconnectFromHost();
}

void LoopbackHost::resetConnection() {
    if (!current_) return;
    // Linger on with no time: close() sends RST instead of FIN.
    const qintptr fd = current_->socketDescriptor();
    if (fd >= 0) {
        const linger hard{1, 0};
        ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    current_->abort();
}

void LoopbackHost::setReading(bool on) {
    reading_ = on;
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        // A full one-byte buffer turns Qt's read notifier off, so the system's buffers fill
        // and the peer's writes back up.
        socket->setReadBufferSize(on ? 0 : 1);
        if (on) readFrom(socket);
    }
}

bool LoopbackHost::waitForConnection(int timeoutMs) {
    return RunUntil([this] { return connected(); }, timeoutMs);
}

bool LoopbackHost::waitForBytes(int n, int timeoutMs) {
    return RunUntil([this, n] { return received_.size() >= n; }, timeoutMs);
}

bool LoopbackHost::waitForDisconnect(int timeoutMs) {
    return RunUntil([this] { return !connected(); }, timeoutMs);
}

void LoopbackHost::onNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        if (!reading_) socket->setReadBufferSize(1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            const bool wasCurrent = socket == current_;
            socket->deleteLater();
            if (wasCurrent) {
                current_ = nullptr;
                emit connectedChanged(false);
            }
        });
        current_ = socket;
        ++connectionCount_;
        emit connectedChanged(true);
        if (!banner_.isEmpty()) send(banner_);
    }
}

void LoopbackHost::readFrom(QTcpSocket* socket) {
    if (!reading_) return;
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty()) return;
    received_ += bytes;
    ++readCount_;
    if (echo_) {
        socket->write(bytes);
        socket->flush();
    }
}

}  // namespace corvane::rig
