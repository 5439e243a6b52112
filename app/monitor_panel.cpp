#include "app/monitor_panel.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/w_host.h"
#include "links/host_socket.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "relay/pump.h"

namespace corvane {

std::optional<QByteArray> ParseHexLine(const QString& text) {
    QByteArray bytes;
    if (text.isEmpty()) return bytes;
    for (const QString& token : text.split(QLatin1Char(' '))) {
        if (token.isEmpty()) return std::nullopt;
        int value = 0;
        for (QChar c : token) {
            const int digit = QStringLiteral("0123456789ABCDEF").indexOf(c.toUpper());
            if (digit < 0 || c.unicode() > 0x7F) return std::nullopt;
            value = value * 16 + digit;
            if (value > 0xFF) return std::nullopt;
        }
        bytes.append(static_cast<char>(value));
    }
    return bytes;
}

void b_ShowMonitor_Click(WHost& w) {
    QWidget* const panel[] = {w.t_CommLog, w.t_DataLog, w.label[7], w.t_skip,
                              w.t_bytes,   w.status,    w.l_ports};
    const QRect f0 = w.frame[0]->geometry();
    // The panel's state is the visibility of the data pane, nothing else.
    const bool shown = !w.t_DataLog->isHidden();
    if (shown) {
        w.setFixedWidth(f0.x() + f0.width() + f0.x());
        for (QWidget* c : panel) c->setVisible(false);
        w.b_ShowMonitor->setText(QStringLiteral("Show monitor >>"));
    } else {
        w.setFixedWidth(w.t_DataLog->x() + w.t_DataLog->width() + f0.x());
        for (QWidget* c : panel) c->setVisible(true);
        w.b_ShowMonitor->setText(QStringLiteral("<< Hide monitor"));
    }
}

void b_term_Click(WHost& w) {
    const auto bytes = ParseHexLine(w.t_term->text());
    if (!bytes || !IsTerminalPortOpen(w)) return;
    try {
        w.Comm->Output(*bytes);
    } catch (const CommError&) {
    }
    WakePump(w);
}

void b_host_Click(WHost& w) {
    const auto bytes = ParseHexLine(w.t_host->text());
    if (!bytes || !w.SSL->Connected()) return;
    w.SSL->Send(*bytes);
}

}  // namespace corvane
