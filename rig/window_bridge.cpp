#include "rig/window_bridge.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "app/settings_controls.h"
#include "links/bridge.h"
#include "links/host_connection.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "logs/text_utils.h"
#include "rig/wait.h"

namespace corvane::rig {

void ChooseHost(WHost& w, const QString& name, quint16 port) {
    w.cboSystem->addItem(QStringLiteral("%1:127.0.0.1:%2").arg(name).arg(port));
    w.cboSystem->setCurrentIndex(w.cboSystem->count() - 1);
    cboSystem_Click(w);
}

WindowBridge::WindowBridge() {
    if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
    SetMessageHandler([this](const QString& m) { messages_ << m; });
    window_ = std::make_unique<WHost>(dir_.path());
    terminal_ = std::make_unique<PtyTerminal>(dir_.path(), 1);
    host_ = std::make_unique<LoopbackHost>();
    if (!host_->listening())
        throw std::runtime_error("loopback host: " + host_->errorString().toStdString());
    ChooseHost(*window_, QStringLiteral("Ludric"), host_->port());
}

WindowBridge::~WindowBridge() {
    window_.reset();
    terminal_.reset();
    host_.reset();
    SetMessageHandler({});
}

bool WindowBridge::startLoaded(QString* why) {
    window_->chkIsResidentLoaded->setChecked(true);
    window_->b_start->click();
    if (!IsTerminalPortOpen(*window_) || !IsHostConnected(*window_) ||
        !host_->waitForBytes(2, 10000)) {
        if (why)
            *why = QStringLiteral("the bridge did not come up: %1")
                       .arg(messages_.join(QStringLiteral("; ")));
        return false;
    }
    host_->takeReceived();
    return true;
}

void WindowBridge::startWithRequest(int number, qint64* sentAtMs) {
    window_->chkIsResidentLoaded->setChecked(false);
    const QByteArray request = "L" + QByteArray::number(number).rightJustified(2, '0') + "x";
    QTimer::singleShot(50, window_.get(), [this, request, sentAtMs] {
        if (sentAtMs) *sentAtMs = terminal_->elapsedMs();
        terminal_->send(request);
    });
    window_->b_start->click();
}

SerialPort::OutputQueueReader ReadAtLineRate(WHost& w, PtyTerminal& terminal, int baud) {
    terminal.setLineRate(baud);
    if (baud <= 0) {
        terminal.followFraming(nullptr);
        w.Comm->setOutputQueueReader(nullptr);
        return {};
    }
    PtyTerminal* t = &terminal;
    SerialPort* port = w.Comm;
    // The terminal may outlive the window.
    terminal.followFraming(
        [guard = QPointer<SerialPort>(port)] { return guard ? guard->BitsPerCharacter() : 10.0; });
    // Right after a write the kernel may not yet have moved the characters to where the pty
    // counts them, so for a moment the count is what was written and not read; after that it
    // is the pty's own.
    auto lastWrite = std::make_shared<std::pair<qint64, QElapsedTimer>>(-1, QElapsedTimer());
    SerialPort::OutputQueueReader reader = [t, port, lastWrite](int) {
        const qint64 written = port->CharactersWritten();
        if (written != lastWrite->first) {
            lastWrite->first = written;
            lastWrite->second.start();
        }
        if (lastWrite->second.elapsed() < 10)
            return std::max(static_cast<int>(written - t->readTotal()), t->unread());
        return t->unread();
    };
    w.Comm->setOutputQueueReader(reader);
    return reader;
}

long long LoaderStatusByte(const WHost& w) {
    const QString s = w.label[3]->text();
    const qsizetype at = s.indexOf(QStringLiteral(" BYTE "));
    return at < 0 ? -1 : s.mid(at + 6).toLongLong(nullptr, 16);
}

void WindowBridge::stop() {
    b_stop_Click(*window_);
    host_->waitForDisconnect(5000);
}

}  // namespace corvane::rig
