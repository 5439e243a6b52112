#include "relay/pump.h"

#include <QLabel>
#include <algorithm>
#include <climits>

#include "app/w_host.h"
#include "links/host_connection.h"
#include "links/host_socket.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"

namespace corvane {

int LenientNumber(const QByteArray& text) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Beyond the range of an int the number stays at its limit instead of wrapping around.
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long value = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = std::min(value * 10 + (text[i] - '0'), kLimit);
        ++i;
    }
    return static_cast<int>(std::clamp<long long>(negative ? -value : value, INT_MIN, INT_MAX));
}

std::optional<int> LoadFileRequestOf(const QByteArray& input) {
    if (input.size() != 4 || input[0] != 'L') return std::nullopt;
    return LenientNumber(input.mid(1, 2));
}

void sTimer_Timer(WHost& w) {
    if (w.bUnloaded) return;

    // 1. During a resident load the terminal's input is read and thrown away.
    if (w.bLoadingResident) {
        try {
            w.Comm->Input();
        } catch (const CommError&) {
        }
        return;
    }

    // 2-3. The quiet time is taken before this tick's read moves the stamp.
    const qint64 now = w.NowSeconds();
    if (!w.sLastTermIn) w.sLastTermIn = now - 10;
    const qint64 quiet = now - *w.sLastTermIn;

    // 4. Host data may arrive here and be appended to sToTerminal.
    w.SSL->DoEvents();

    // 5-7. Terminal to host: everything read in the previous tick, in one Send.
    QByteArray chunk;
    chunk.swap(w.sToHost);
    if (const auto request = LoadFileRequestOf(chunk)) w.nLoadFileRequest = *request;
    if (!chunk.isEmpty() && IsHostConnected(w)) w.SSL->Send(chunk);

    // 8-10. Host to terminal: one slice per tick.
    QByteArray slice;
    if (!w.sToTerminal.isEmpty()) {
        slice = w.sToTerminal.left(ToTerminalSlice);
        w.sToTerminal.remove(0, slice.size());
    }
    if (w.bFlushToTerminal) {
        w.sToTerminal.clear();
        w.bFlushToTerminal = false;
    }
    if (!slice.isEmpty() && IsTerminalPortOpen(w)) {
        try {
            w.Comm->Output(slice);
        } catch (const CommError&) {
            // The port went away between the test and the write; its loss is reported once
            // by the component's event.
        }
    }

    // 11-12. Terminal input, queued for the next tick.
    if (!IsTerminalPortOpen(w)) return;
    if (w.Comm->InBufferCount() == 0) return;
    w.sLastTermIn = now;
    QByteArray input;
    try {
        input = w.Comm->Input();
    } catch (const CommError&) {
        return;
    }
    w.sToHost.append(input);

    // 13. Input right after other input is relayed but not inspected.
    if (quiet < 1) return;

    // 14. The terminal asks to discard pending host output.
    if (input.contains('\x01') || input.contains('\x11')) w.bFlushToTerminal = true;

    // 15-16. The first key after the port opened.
    if (w.l_milestone->text() == QLatin1String("A")) {
        if (input == QByteArray("\x0D", 1)) {
            w.l_milestone->setText(QStringLiteral("B"));
            w.l_loginMode->setText(QStringLiteral("next"));
        } else if (input == QByteArray("\x11", 1)) {
            w.l_milestone->setText(QStringLiteral("B"));
            w.l_loginMode->setText(QStringLiteral("stop1"));
        }
    }
    if (w.l_milestone->text() == QLatin1String("B")) w.l_milestone->setText(QStringLiteral("C"));
}

}  // namespace corvane
