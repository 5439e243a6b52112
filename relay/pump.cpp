#include "relay/pump.h"

#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

#include "app/w_host.h"
#include "links/host_connection.h"
#include "links/host_socket.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "logs/comm_log.h"
#include "relay/bounds.h"

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

namespace {

// A tick now rather than at the timer's next beat; with `thenSend`, one more at once when it
// read input, so that input goes to the host without waiting a beat either.
void TickAtOnce(WHost& w, bool thenSend) {
    QTimer::singleShot(0, w.sTimer, [&w, thenSend] {
        if (!w.sTimer->isActive()) return;
        w.sTimer->start();
        sTimer_Timer(w);
        if (thenSend && w.sTimer->isActive() && !w.sToHost.isEmpty()) TickAtOnce(w, false);
    });
}

}  // namespace

void WakePump(WHost& w) {
    if (w.bUnloaded || !w.PumpWakes || w.sTimer->isActive()) return;
    w.LineRoomWake->stop();
    w.sTimer->start();
    // A key typed on a quiet line is read and sent at once; later ticks keep the timer's pace.
    TickAtOnce(w, true);
}

bool PumpHasWork(WHost& w) {
    // Drops not yet logged keep it awake: a link routine that empties sToHost ends the
    // episode, and the next tick says so.
    return w.bLoadingResident || w.bFlushToTerminal || !w.sToHost.isEmpty() ||
           !w.sToTerminal.isEmpty() || !w.SSL->AcceptData() || w.nHostDropped > 0;
}

void ReportHostDrops(WHost& w) {
    if (w.nHostDropped == 0) return;
    const qint64 dropped = w.nHostDropped;
    w.nHostDropped = 0;
    LogComm(w, QStringLiteral("host not reading: %1 bytes dropped").arg(dropped), QString(), false);
}

qint64 LineBehind(WHost& w, qint64 n) {
    return std::max<qint64>(
        w.Comm->OutBufferCount() + n - LineRoom(w.Comm->Baud(), ToTerminalSlice), 0);
}

namespace {

// Stops the timer until the line has sent the `behind` characters that keep the next slice
// out, at its own pace: a real line takes a slice every tenth of a second or so, and looking
// every millisecond in between would only wake the machine. Input, host data and operator
// actions still wake the pump at once.
void SleepUntilLineRoom(WHost& w, qint64 behind) {
    const double ms = std::ceil(w.Comm->LineMs(behind));
    w.sTimer->stop();
    w.LineRoomWake->start(static_cast<int>(std::clamp(ms, 1.0, 60000.0)));
}

// Steps 4 to 16 of a tick; the caller decides afterwards whether the pump may sleep. Returns
// how many characters the line must still send before the slice waiting for it fits (0 when
// none waits or it went out).
qint64 Tick(WHost& w) {
    // 2-3. The quiet time is taken before this tick's read moves the stamp.
    const qint64 now = w.NowSeconds();
    if (!w.sLastTermIn) w.sLastTermIn = now - 10;
    const qint64 quiet = now - *w.sLastTermIn;

    // 4. Host data may arrive here and be appended to sToTerminal; held-back host data is
    // taken again once the terminal's side has drained.
    if (!w.SSL->AcceptData() && w.sToTerminal.size() <= kToTerminalLow) w.SSL->setAcceptData(true);
    w.SSL->DoEvents();

    // 5-7. Terminal to host: everything read in the previous tick, in one Send. A host that
    // has not taken what it was sent before gets nothing more: the input waits in sToHost.
    QByteArray chunk;
    chunk.swap(w.sToHost);
    if (const auto request = LoadFileRequestOf(chunk)) w.nLoadFileRequest = *request;
    const bool connected = !chunk.isEmpty() && IsHostConnected(w);
    if (connected && w.SSL->BytesToWrite() >= kHostPendingMax) {
        w.sToHost.swap(chunk);
    } else {
        if (connected) w.SSL->Send(chunk);
        ReportHostDrops(w);
    }

    // 8-10. Host to terminal: one slice per tick, while the line has room for it. What the
    // line cannot take yet stays in sToTerminal, in order. A flush also discards what the
    // line has not sent yet, before the one slice that still goes out.
    const bool portOpen = IsTerminalPortOpen(w);
    if (w.bFlushToTerminal && portOpen) {
        try {
            w.Comm->setOutBufferCount(0);
        } catch (const CommError&) {
        }
    }
    QByteArray slice;
    qint64 lineBehind = 0;
    if (!w.sToTerminal.isEmpty()) {
        const qsizetype n = std::min<qsizetype>(ToTerminalSlice, w.sToTerminal.size());
        if (portOpen) lineBehind = LineBehind(w, n);
        if (lineBehind == 0) {
            slice = w.sToTerminal.left(n);
            w.sToTerminal.remove(0, n);
        }
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

    // 11-12. Terminal input, queued for the next tick. While the host does not read, what
    // would overfill sToHost is dropped, counted and logged once the episode ends.
    if (!IsTerminalPortOpen(w)) return lineBehind;
    if (w.Comm->InBufferCount() == 0) return lineBehind;
    w.sLastTermIn = now;
    QByteArray input;
    try {
        input = w.Comm->Input();
    } catch (const CommError&) {
        return lineBehind;
    }
    const qsizetype room = std::max<qsizetype>(kToHostHeld - w.sToHost.size(), 0);
    if (input.size() > room && IsHostConnected(w) && !w.sToHost.isEmpty()) {
        w.nHostDropped += input.size() - room;
        w.sToHost.append(input.left(room));
    } else {
        w.sToHost.append(input);
    }

    // 13. Input right after other input is relayed but not inspected.
    if (quiet < 1) return lineBehind;

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
    return lineBehind;
}

}  // namespace

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

    const qint64 lineBehind = Tick(w);

    // Nothing waits on either side: the timer sleeps until the serial port has input, the
    // host sends, an operator acts or a routine queues something (each calls WakePump).
    // When only the line holds things up, it sleeps until the line has room.
    if (!PumpHasWork(w))
        w.sTimer->stop();
    else if (lineBehind > 0 && w.sToHost.isEmpty() && !w.bFlushToTerminal)
        SleepUntilLineRoom(w, lineBehind);
}

}  // namespace corvane
