#include "relay/login_keys.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "app/up_down.h"
#include "app/w_host.h"
#include "links/host_connection.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "logs/comm_log.h"
#include "relay/pump.h"

namespace corvane {

std::optional<QByteArray> LoginKey(const QString& loginMode) {
    if (loginMode == QLatin1String("next")) return QByteArray("\x0D", 1);
    if (loginMode == QLatin1String("stop1")) return QByteArray("\x11", 1);
    return std::nullopt;
}

void WakeupHost(WHost& w) {
    if (w.bUnloaded) return;
    try {
        w.Comm->setSettings(QStringLiteral("2400,e,7,1"));
    } catch (const CommError& e) {
        LogComm(w, QString::fromStdString(e.what()), QString(), false);
    }
    w.bLoadingResident = false;
    if (IsTerminalPortOpen(w)) {
        w.l_loginMode->setText(QStringLiteral("next"));
        OpenHost(w);
        if (w.bUnloaded) return;
    }
    w.sToHost = QByteArray("\x0D\x0D", 2);
    WakePump(w);
    w.t_blockdelay->setEnabled(true);
    w.ud_blockdelay->setEnabled(true);
    w.label[11]->setEnabled(true);
}

}  // namespace corvane
