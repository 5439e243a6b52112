#include "relay/host_data.h"

#include <QLabel>

#include "app/w_host.h"
#include "links/host_socket.h"
#include "relay/bounds.h"

namespace corvane {

QByteArray CleanIac(const QByteArray& text, bool& pending) {
    QByteArray clean;
    clean.reserve(text.size());
    for (const char c : text) {
        if (static_cast<unsigned char>(c) == 0xFF)
            pending = !pending;
        else
            pending = false;
        if (!pending) clean.append(c);
    }
    return clean;
}

void SSL_DataIn(WHost& w, const QByteArray& text, bool /*endOfLine*/) {
    if (w.l_host->text() == QLatin1String("novanet") || !text.contains('\xFF'))
        w.sToTerminal.append(text);
    else
        w.sToTerminal.append(CleanIac(text, w.bIacPending));
    // A terminal that takes less than the host sends: hold the host back, drop nothing.
    if (w.sToTerminal.size() > kToTerminalHigh) w.SSL->setAcceptData(false);
}

}  // namespace corvane
