#include "links/host_connection.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QMetaObject>

#include "app/lamp_label.h"
#include "app/pending_events.h"
#include "app/w_host.h"
#include "links/host_socket.h"
#include "links/lamps.h"
#include "logs/comm_log.h"
#include "relay/login_keys.h"
#include "relay/pump.h"

namespace corvane {

namespace {

enum class WaitEnd { Reached, Failed, Closed, TimedOut };
const bool kNeverFails = false;

// The wait of the open and the close: reads Connected and processes events around each read
// until it reads `wanted`, the component reports a failure, the window closes or the bound
// passes.
WaitEnd WaitForConnected(WHost& w, bool wanted, const bool& failed) {
    KeepAwake atDeadline(kHostWaitMs + 1, true);
    QDeadlineTimer deadline(kHostWaitMs);
    // Each end of the wait comes with an event (the link's change, the component's error,
    // the window's close, the deadline's timer), so events are waited for only while none
    // has come: once one has, the loop must not wait for another that may never come.
    auto process = [&] {
        if (w.SSL->Connected() == wanted || failed || w.bUnloaded || deadline.hasExpired())
            DoEventsNow();
        else
            DoEventsWaiting();
    };
    for (;;) {
        const bool value = w.SSL->Connected();
        process();
        if (value == wanted) return WaitEnd::Reached;
        if (w.bUnloaded) return WaitEnd::Closed;
        if (failed) return WaitEnd::Failed;
        if (deadline.hasExpired()) return WaitEnd::TimedOut;
        process();
    }
}

}  // namespace

QStringList SystemPresets() {
    // NovaNET has closed; its entry stays for the terminals that still carry its name.
    return {
        QStringLiteral("cyber1:cyberserv.org:8005"),
        QStringLiteral("cyber1:cyberserv.org:5004"),
        QStringLiteral("novanet:novanet.invalid:23"),
        QStringLiteral("Ludric:localhost:8105:@cyberserv.org:8005"),
    };
}

std::optional<int> HostPortOf(const QString& field, QString* why) {
    const QString t = field.trimmed();
    auto fail = [&](const QString& reason) -> std::optional<int> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (t.isEmpty()) return fail(QStringLiteral("no port given"));
    long long value = 0;
    for (QChar c : t) {
        if (c < u'0' || c > u'9') return fail(QStringLiteral("port \"%1\" is not a number").arg(t));
        value = value * 10 + (c.unicode() - u'0');
        if (value > 65535) break;
    }
    if (value < 1 || value > 65535)
        return fail(QStringLiteral("port %1 is outside 1 to 65535").arg(t));
    return static_cast<int>(value);
}

bool IsHostConnected(WHost& w) { return w.SSL->Connected(); }

void OpenHost(WHost& w) {
    // A double-click on the still red lamp during the wait must not start a second open.
    if (w.bUnloaded || w.bOpeningHost) return;
    w.sToTerminal.clear();
    w.sToHost.clear();
    const QString host = w.l_url->text();
    QString why;
    const std::optional<int> port = HostPortOf(w.l_socket->text(), &why);
    if (host.trimmed().isEmpty() || !port) {
        if (host.trimmed().isEmpty()) why = QStringLiteral("no host address given");
        LogComm(w, QStringLiteral("Not connecting to \"%1\": %2").arg(w.l_host->text(), why),
                QString(), false);
        return;
    }
    if (IsHostConnected(w)) CloseHost(w);
    if (w.bUnloaded) return;

    w.bOpeningHost = true;
    bool failed = false;
    // The component reports a refused, unreachable or unknown host through its Error event,
    // which the window already logs; here it only ends the wait.
    QObject watcher;
    QObject::connect(w.SSL, &HostSocket::Error, &watcher, [&failed] { failed = true; });
    w.SSL->setSSLStartMode(3);
    w.SSL->setLinger(true);
    w.SSL->setKeepAlive(true);
    w.SSL->Connect(host, *port);
    w.SSL->DoEvents();

    const WaitEnd end = WaitForConnected(w, true, failed);
    w.bOpeningHost = false;
    if (end == WaitEnd::TimedOut) {
        LogComm(w,
                QStringLiteral("No connection to %1 port %2 after %3 s; gave up")
                    .arg(host)
                    .arg(*port)
                    .arg(kHostWaitMs / 1000),
                QString(), false);
        w.SSL->Disconnect();
    }
    if (end != WaitEnd::Reached || w.bUnloaded) return;

    w.l_milestone->setText(QStringLiteral("D"));
    SetBackColor(w.status_SSL, LampUp);
    if (const auto key = LoginKey(w.l_loginMode->text())) {
        w.sToHost = *key;
        WakePump(w);
    }
}

void CloseHost(WHost& w) {
    if (!IsHostConnected(w)) return;
    w.sToTerminal.clear();
    w.sToHost.clear();
    DoEventsNow();
    w.SSL->Disconnect();

    WaitEnd end = WaitForConnected(w, false, kNeverFails);
    if (end == WaitEnd::TimedOut) {
        // A host that never takes the last bytes keeps a graceful close open: cut it.
        LogComm(w,
                QStringLiteral("The host did not close in %1 s; connection cut")
                    .arg(kHostWaitMs / 1000),
                QString(), false);
        w.SSL->Disconnect();
        if (!w.SSL->Connected()) end = WaitEnd::Reached;
    }
    if (end != WaitEnd::Reached || w.bUnloaded) return;
    w.l_milestone->setText(QStringLiteral("A"));
    SetBackColor(w.status_SSL, LampDown);
}

}  // namespace corvane
