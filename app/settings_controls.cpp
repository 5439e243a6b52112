#include "app/settings_controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

#include "app/decimal_number.h"
#include "app/engine_thread.h"
#include "app/up_down.h"
#include "app/w_host.h"

namespace corvane {

namespace {

QString DelayText(const WHost& w) { return QString::number(w.ud_blockdelay->value()); }

}  // namespace

void cboSystem_Click(WHost& w) {
    // The engine splits the entry into l_host, l_url and l_socket, which show it.
    w.Channel().Post(
        [entry = ToEngineText(w.cboSystem->currentText())](Engine& e) { e.ChooseSystem(entry); });
}

void cboResident_Click(WHost& w) {
    // Checking the box runs chkIsResidentLoaded_Click through its wiring when it changes.
    w.chkIsResidentLoaded->setChecked(true);
    w.Channel().Post(
        [kind = ToEngineText(w.cboResident->currentText())](Engine& e) { e.ChooseResident(kind); });
}

void chkIsResidentLoaded_Click(WHost& w) {
    const bool loaded = w.chkIsResidentLoaded->checkState() != Qt::Unchecked;
    const bool shown = !loaded;
    w.label[3]->setVisible(shown);
    w.label[11]->setVisible(shown);
    w.t_blockdelay->setVisible(shown);
    w.ud_blockdelay->setVisible(shown);

    const bool usable = w.chkIsResidentLoaded->checkState() == Qt::Checked;
    const QPalette platform = QApplication::palette();
    const QColor background = platform.color(usable ? QPalette::Base : QPalette::Button);
    QPalette palette = w.cboResident->palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Button, background);
    w.cboResident->setPalette(palette);
    w.cboResident->setEnabled(usable);
    w.Channel().Post([usable](Engine& e) { e.SetResidentLoaded(usable); });
}

void t_blockdelay_Change(WHost& w) {
    // Each replacement of the text runs this handler again through the text box's wiring;
    // the text written back is the up-down's own value, so the nesting ends after one pass.
    std::optional<double> number = ReadDecimalNumber(w.t_blockdelay->text().toStdString());
    if (!number) {
        w.t_blockdelay->setText(DelayText(w));
        number = ReadDecimalNumber(w.t_blockdelay->text().toStdString());
        if (!number) return;
    }
    if (*number < 0 || *number > 1000) {
        w.t_blockdelay->setText(DelayText(w));
        number = ReadDecimalNumber(w.t_blockdelay->text().toStdString());
        if (!number || *number < 0 || *number > 1000) return;
    }
    // Runs ud_blockdelay_Change through the up-down's wiring when the value differs.
    w.ud_blockdelay->setValue(static_cast<int>(RoundHalfEven(*number)));
}

void ud_blockdelay_Change(WHost& w) {
    w.t_blockdelay->setText(DelayText(w));
    // The up-down's value is the one the loader reads.
    w.Channel().Post([ms = w.ud_blockdelay->value()](Engine& e) { e.SetChunkDelay(ms); });
}

void t_blockdelay_GotFocus(WHost& w) {
    w.t_blockdelay->setSelection(0, static_cast<int>(w.t_blockdelay->text().size()));
}

void x_log_Click(WHost& w) {
    w.Channel().Post([on = w.x_log->isChecked()](Engine& e) { e.SetLogToFile(on); });
}

}  // namespace corvane
