#include "app/headless.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

#include "app/command_line.h"
#include "app/settings_controls.h"
#include "app/start_up.h"
#include "app/termination_signals.h"
#include "app/w_host.h"
#include "links/bridge.h"
#include "links/host_connection.h"
#include "links/host_socket.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "logs/text_utils.h"
#include "relay/pump.h"

namespace corvane {

namespace {

void PrintLine(std::FILE* to, const QString& text) {
    std::fputs((text.toLocal8Bit() + '\n').constData(), to);
    std::fflush(to);
}

void Complain(const QString& text) { PrintLine(stderr, QStringLiteral("corvane: ") + text); }

// The operator's choices, made through the controls and their handlers as a click would.
void ApplySettings(WHost& w, const CommandLine& o) {
    w.x_log->setChecked(o.logToFile);
    w.c_ports->setEditText(o.portEntry);
    int at = w.cboSystem->findText(o.systemEntry, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (at < 0) {
        w.cboSystem->addItem(o.systemEntry);
        at = w.cboSystem->count() - 1;
    }
    w.cboSystem->setCurrentIndex(at);
    cboSystem_Click(w);
    if (!o.residentKind.isEmpty()) {
        w.cboResident->setCurrentIndex(w.cboResident->findText(o.residentKind));
        cboResident_Click(w);
    }
    w.chkIsResidentLoaded->setChecked(o.residentLoaded);
    if (o.chunkDelay) w.t_blockdelay->setText(QString::number(*o.chunkDelay));
}

}  // namespace

int RunHeadless(const CommandLine& options) {
    QString why;
    const QString programDir = ProgramDirFor(options.programDir, &why);
    if (!why.isEmpty()) {
        Complain(why);
        return 2;
    }
    WHost w(programDir);  // never shown
    bool portRefused = false;
    SetMessageHandler([&portRefused](const QString& message) {
        Complain(message);
        portRefused = true;
    });
    w.CommLogSink = [](const QString& line) { PrintLine(stdout, line); };
    ApplySettings(w, options);

    int status = 0;
    bool ending = false;
    bool up = false;
    // The stop as the stop button does it (port, then host); then every wait still on the
    // stack ends and the event loop returns.
    auto end = [&](int code) {
        if (ending) return;
        ending = true;
        status = code;
        b_stop_Click(w);
        ReportHostDrops(w);  // no tick runs after this one to say it
        w.bUnloaded = true;
        w.sTimer->stop();
        QCoreApplication::exit(code);
    };
    OnTerminationSignals(qApp, [&end] { end(0); });

    // The start's waits process events, so it runs inside the loop, as a click would.
    QTimer::singleShot(0, &w, [&] {
        if (ending) return;
        b_start_Click(w);
        if (ending) return;
        if (portRefused || !IsTerminalPortOpen(w)) {
            end(2);
        } else if (!IsHostConnected(w)) {
            Complain(QStringLiteral("no connection to the host %1 port %2")
                         .arg(w.l_url->text(), w.l_socket->text()));
            end(1);
        } else {
            up = true;
        }
    });
    // Nobody is there to press stop and start again: a lost link ends the run, so that a
    // service manager can start a new one. Each loss comes with an event of its component;
    // the look follows it, once the window's own handlers have run.
    auto look = [&] {
        if (!up || ending) return;
        if (!IsTerminalPortOpen(w)) {
            Complain(QStringLiteral("the terminal port was lost"));
            end(1);
        } else if (!IsHostConnected(w)) {
            Complain(QStringLiteral("the host ended the connection"));
            end(1);
        }
    };
    auto lookSoon = [&] { QTimer::singleShot(0, &w, look); };
    QObject::connect(w.Comm, &SerialPort::OnComm, &w, lookSoon);
    QObject::connect(w.SSL, &HostSocket::Disconnected, &w, lookSoon);
    QObject::connect(w.SSL, &HostSocket::Error, &w, lookSoon);

    QApplication::exec();
    // An open still under way when the run ended leaves nothing behind.
    w.SSL->Disconnect();
    try {
        if (w.Comm->PortOpen()) w.Comm->setPortOpen(false);
    } catch (const CommError&) {
    }
    SetMessageHandler({});
    return status;
}

}  // namespace corvane
