#include "links/bridge.h"

#include <QLabel>
#include <QLineEdit>

#include "app/up_down.h"
#include "app/w_host.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"
#include "resident/loader.h"

namespace corvane {

namespace {

void EnableChunkDelay(WHost& w, bool on) {
    w.ud_blockdelay->setEnabled(on);
    w.label[11]->setEnabled(on);
    w.t_blockdelay->setEnabled(on);
}

}  // namespace

void b_start_Click(WHost& w) {
    if (w.bUnloaded) return;
    OpenTerminalPort(w);
    if (w.bUnloaded) return;  // closed while the port's message box was up
    w.label[3]->setEnabled(true);
    w.label[3]->setText(QString());
    EnableChunkDelay(w, false);
    WaitForLoadFileRequest(w);
}

void b_stop_Click(WHost& w) {
    w.bLoadingResident = false;
    CloseTerminalPort(w);
    CloseHost(w);
    w.label[3]->setEnabled(false);
    w.label[3]->setText(QStringLiteral("HOST NOT CONNECTED"));
    EnableChunkDelay(w, true);
}

}  // namespace corvane
