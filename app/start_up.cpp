#include "app/start_up.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/w_host.h"

namespace corvane {

WHost* Main(const QString& programDir) {
    // The toolkit's own initialisation stands in for the platform checks of old: there is
    // nothing to detect before the window is shown.
    static WHost* w_host = nullptr;
    if (!w_host) {
        w_host = new WHost(programDir);
        w_host->EndsProgramOnUnload = true;
    }
    w_host->show();
    return w_host;
}

QString ProgramDirFor(const QString& given, QString* why) {
    QString dir = given;
    if (dir.isEmpty()) {
        if (QFileInfo(QCoreApplication::applicationDirPath()).fileName() != QLatin1String("bin"))
            return QString();
        dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
              QStringLiteral("/corvane");
    }
    dir = QDir(dir).absolutePath();
    if (!QDir().mkpath(dir) || !QFileInfo(dir).isDir()) {
        if (why) *why = QStringLiteral("the program folder %1 cannot be made").arg(dir);
        return QString();
    }
    if (why) why->clear();
    return dir;
}

QString NoDisplayReason() {
    // Qt would abort with advice to reinstall; say what is missing instead.
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!qEnvironmentVariableIsEmpty(v)) return {};
    }
    return QStringLiteral(
        "no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set); to "
        "bridge without a window, run corvane --headless (see corvane --help)");
}

}  // namespace corvane
