#include "links/lamps.h"

#include "app/lamp_label.h"
#include "app/w_host.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"

namespace corvane {

int LinkLampColor(WHost& w, const QString& name) {
    if (name.compare(QStringLiteral("SSL"), Qt::CaseInsensitive) == 0)
        return BackColor(w.status_SSL);
    if (name.compare(QStringLiteral("RS232"), Qt::CaseInsensitive) == 0)
        return BackColor(w.status_RS232);
    return 0;
}

void status_RS232_DblClick(WHost& w) {
    const int c = LinkLampColor(w, QStringLiteral("RS232"));
    if (c == LampUp)
        CloseTerminalPort(w);
    else if (c == LampDown)
        OpenTerminalPort(w);
}

void status_SSL_DblClick(WHost& w) {
    const int c = LinkLampColor(w, QStringLiteral("SSL"));
    if (c == LampUp)
        CloseHost(w);
    else if (c == LampDown)
        OpenHost(w);
}

}  // namespace corvane
