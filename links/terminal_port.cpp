#include "links/terminal_port.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/lamp_label.h"
#include "app/w_host.h"
#include "links/host_connection.h"
#include "links/lamps.h"
#include "links/serial_devices.h"
#include "links/serial_port.h"
#include "logs/comm_log.h"
#include "logs/text_utils.h"

namespace corvane {

namespace {

void ShowPortOpen(WHost& w) {
    SetBackColor(w.status_RS232, LampUp);
    w.c_ports->setEnabled(false);
    w.b_start->setEnabled(false);
    w.b_stop->setEnabled(true);
    w.l_milestone->setText(QStringLiteral("A"));
    w.l_loginMode->setText(QString());
}

// An entry that names a device path: the same steps as a numbered port, on that device.
void OpenDevicePort(WHost& w, const DeviceEntry& entry) {
    try {
        if (!IsTerminalPortOpen(w)) {
            w.Comm->setDevicePath(entry.device);
            w.Comm->setSettings(entry.settings);
            w.Comm->setHandshaking(0);
            w.Comm->setDTREnable(true);
            w.Comm->setRTSEnable(true);
            w.Comm->setPortOpen(true);
        }
    } catch (const CommError& e) {
        QString reason = QString::fromStdString(e.what());
        LogComm(w, reason, QString(), false);
        // The component names the device first; the message already does.
        const QString prefix = entry.device + QStringLiteral(": ");
        if (reason.startsWith(prefix)) reason = reason.mid(prefix.size());
        ShowMessage(DeviceOpenFailure(entry, reason, DeviceAccessRefused(entry.device)), &w);
        return;
    }
    ShowPortOpen(w);
}

}  // namespace

void OpenTerminalPort(WHost& w) {
    if (const std::optional<DeviceEntry> device = ParseDeviceEntry(w.c_ports->currentText())) {
        OpenDevicePort(w, *device);
        return;
    }
    int number = 0;
    QString settings;
    try {
        const QString entry = w.c_ports->currentText();
        const QString digits = DigitsOnly(FieldBefore(entry, QStringLiteral(":")));
        bool ok = true;
        const int n = digits.isEmpty() ? 0 : digits.toInt(&ok);
        if (!ok) throw CommError("the port number " + digits.toStdString() + " is too large");
        number = n;
        settings = FieldAfter(entry, QStringLiteral(":"));
        if (!IsTerminalPortOpen(w)) {
            w.Comm->setDevicePath(QString());
            w.Comm->setCommPort(number);
            w.Comm->setSettings(settings);
            w.Comm->setHandshaking(0);
            w.Comm->setDTREnable(true);
            w.Comm->setRTSEnable(true);
            w.Comm->setPortOpen(true);
        }
    } catch (const CommError& e) {
        LogComm(w, QString::fromStdString(e.what()), QString(), false);
        ShowMessage(QStringLiteral("Can't open com") + QString::number(number) +
                        QStringLiteral(":") + settings,
                    &w);
        return;
    }
    ShowPortOpen(w);
}

void CloseTerminalPort(WHost& w) {
    w.sToTerminal.clear();
    w.sToHost.clear();
    try {
        w.Comm->setRTSEnable(false);
        if (IsTerminalPortOpen(w)) w.Comm->setPortOpen(false);
    } catch (const CommError& e) {
        LogComm(w, QString::fromStdString(e.what()), QString(), false);
    }
    w.c_ports->setEnabled(true);
    w.l_milestone->setText(QString());
    SetBackColor(w.status_RS232, LampDown);
    w.b_stop->setEnabled(false);
    w.b_start->setEnabled(true);
}

bool IsTerminalPortOpen(WHost& w) { return w.Comm->PortOpen(); }

void Comm_OnComm(WHost& w) {
    const int event = w.Comm->CommEvent();
    if (event == comEvCTS) {
        w.sToHost.clear();
        w.sToTerminal.clear();
        w.l_milestone->setText(QStringLiteral("A"));
        if (IsHostConnected(w)) CloseHost(w);
    } else if (event == comEventPortLost) {
        // The device went away under us (adapter pulled, line hung up): from now on the
        // port is closed, as if the operator had closed it, and the log says why. The
        // component reports a loss once, so this is logged once.
        const QString port = w.Comm->DevicePath().isEmpty()
                                 ? QStringLiteral("com%1").arg(w.Comm->CommPort())
                                 : w.Comm->DevicePath();
        LogComm(
            w, QStringLiteral("Terminal port %1 lost: the device hung up or was removed").arg(port),
            QString(), false);
        CloseTerminalPort(w);
    } else if (event == comEventDrainTimeout) {
        LogComm(w,
                QStringLiteral("Terminal port com%1: queued output had not left the line; line "
                               "settings changed anyway")
                    .arg(w.Comm->CommPort()),
                QString(), false);
    }
}

}  // namespace corvane
