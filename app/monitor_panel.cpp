#include "app/monitor_panel.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/engine_thread.h"
#include "app/inventory.h"
#include "app/w_host.h"

namespace corvane {

void b_ShowMonitor_Click(WHost& w) {
    QWidget* const panel[] = {w.t_CommLog, w.t_DataLog, w.label[7], w.t_skip,
                              w.t_bytes,   w.status,    w.l_ports};
    // The panel's state is the visibility of the data pane, nothing else.
    const bool shown = !w.t_DataLog->isHidden();
    if (shown) {
        w.setFixedWidth(Twips(inventory::CollapsedWidth()));
        for (QWidget* c : panel) c->setVisible(false);
        w.b_ShowMonitor->setText(QStringLiteral("Show monitor >>"));
    } else {
        w.setFixedWidth(Twips(inventory::ExpandedWidth()));
        for (QWidget* c : panel) c->setVisible(true);
        w.b_ShowMonitor->setText(QStringLiteral("<< Hide monitor"));
    }
}

void b_term_Click(WHost& w) {
    w.Channel().Post(
        [line = ToEngineText(w.t_term->text())](Engine& e) { e.SendToTerminal(line); });
}

void b_host_Click(WHost& w) {
    w.Channel().Post([line = ToEngineText(w.t_host->text())](Engine& e) { e.SendToHost(line); });
}

}  // namespace corvane
