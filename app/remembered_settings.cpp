#include "app/remembered_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>

#include "app/engine_thread.h"
#include "app/monitor_panel.h"
#include "app/settings_controls.h"
#include "app/up_down.h"
#include "app/w_host.h"
#include "logs/comm_log.h"

namespace corvane {

namespace {

const QString kPort = QStringLiteral("port");
const QString kSystem = QStringLiteral("system");
const QString kResidentLoaded = QStringLiteral("residentLoaded");
const QString kResidentKind = QStringLiteral("residentKind");
const QString kChunkDelay = QStringLiteral("chunkDelay");
const QString kLogToFile = QStringLiteral("logToFile");
const QString kMonitorShown = QStringLiteral("monitorShown");

std::optional<bool> ReadFlag(const QVariant& v) {
    const QString t = v.toString().trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1")) return true;
    if (t == QLatin1String("false") || t == QLatin1String("0")) return false;
    return std::nullopt;
}

QString Unusable(const QString& what, const QString& value, const QString& instead) {
    return QStringLiteral("Remembered %1 \"%2\" is not usable; %3").arg(what, value, instead);
}

}  // namespace

void SaveOperatorSettings(WHost& w, QSettings& s) {
    s.setValue(kPort, w.c_ports->currentText());
    s.setValue(kSystem, w.cboSystem->currentIndex() < 0 ? QString() : w.cboSystem->currentText());
    s.setValue(kResidentLoaded, w.chkIsResidentLoaded->isChecked());
    s.setValue(kResidentKind,
               w.cboResident->currentIndex() < 0 ? QString() : w.cboResident->currentText());
    s.setValue(kChunkDelay, w.ud_blockdelay->value());
    s.setValue(kLogToFile, w.x_log->isChecked());
    s.setValue(kMonitorShown, !w.t_DataLog->isHidden());
    s.sync();
}

QStringList RestoreOperatorSettings(WHost& w, QSettings& s) {
    QStringList complaints;
    auto flag = [&](const QString& key, const QString& what) -> std::optional<bool> {
        if (!s.contains(key)) return std::nullopt;
        const std::optional<bool> on = ReadFlag(s.value(key));
        if (!on)
            complaints << Unusable(what, s.value(key).toString(), QStringLiteral("left unticked"));
        return on;
    };

    // First, so that the lines about unusable values reach the log file too.
    if (flag(kLogToFile, QStringLiteral("\"Log to File\"")).value_or(false))
        w.x_log->setChecked(true);

    if (s.contains(kSystem)) {
        const QString entry = s.value(kSystem).toString();
        const int at = w.cboSystem->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (at >= 0) {
            w.cboSystem->setCurrentIndex(at);
            cboSystem_Click(w);
        } else if (!entry.isEmpty()) {
            complaints << Unusable(QStringLiteral("host system"), entry,
                                   QStringLiteral("it is not in the list any more, none chosen"));
        }
    }
    // The kind before the flag: choosing a kind ticks the box, and the flag may untick it.
    if (s.contains(kResidentKind)) {
        const QString kind = s.value(kResidentKind).toString();
        const int at = w.cboResident->findText(kind, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (at >= 0) {
            w.cboResident->setCurrentIndex(at);
            cboResident_Click(w);
        } else if (!kind.isEmpty()) {
            complaints << Unusable(QStringLiteral("terminal kind"), kind,
                                   QStringLiteral("none chosen"));
        }
    }
    if (const std::optional<bool> loaded =
            flag(kResidentLoaded, QStringLiteral("\"Resident is loaded\""))) {
        w.chkIsResidentLoaded->setChecked(*loaded);
    }
    if (s.contains(kChunkDelay)) {
        const QString text = s.value(kChunkDelay).toString();
        bool ok = false;
        const int ms = text.trimmed().toInt(&ok);
        if (ok && ms >= 0 && ms <= 1000) {
            w.t_blockdelay->setText(QString::number(ms));
        } else {
            complaints << Unusable(
                QStringLiteral("chunk delay"), text,
                QStringLiteral("not 0 to 1000 ms, %1 kept").arg(w.ud_blockdelay->value()));
        }
    }
    if (s.contains(kPort)) {
        const QString entry = s.value(kPort).toString();
        if (entry.trimmed().isEmpty()) {
            complaints << Unusable(QStringLiteral("port entry"), entry,
                                   QStringLiteral("%1 kept").arg(w.c_ports->currentText()));
        } else {
            const int at = w.c_ports->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (at >= 0)
                w.c_ports->setCurrentIndex(at);
            else
                w.c_ports->setEditText(entry);  // a typed entry or a device, as it was left
        }
    }
    if (flag(kMonitorShown, QStringLiteral("\"monitor shown\"")).value_or(false) &&
        w.t_DataLog->isHidden())
        b_ShowMonitor_Click(w);

    // After "Log to File" in the engine's order of calls, so the file has them too.
    for (const QString& line : complaints) {
        w.Channel().Post([text = ToEngineText(line)](Engine& e) { LogComm(e, text, "", false); });
    }
    return complaints;
}

}  // namespace corvane
