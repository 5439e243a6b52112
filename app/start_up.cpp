#include "app/start_up.h"

#include <QGuiApplication>
#include <cstdlib>

#include "app/w_host.h"

namespace corvane {

WHost* Main(const QString& programDir) {
    // The toolkit's own initialisation stands in for the platform checks of old: there is
    // nothing to detect before the window is shown.
    static WHost* w_host = nullptr;
    if (!w_host) {
        w_host = new WHost(programDir);
        w_host->EndsProgramOnUnload = true;
        // The window hides at its close while the engine still stops the bridge: the program
        // ends when the engine has unloaded, not when the last window is gone.
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }
    w_host->show();
    return w_host;
}

std::string NoDisplayReason() {
    // Qt would abort with advice to reinstall; say what is missing instead.
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(v);
        if (value && *value) return {};
    }
    return "no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set); to "
           "bridge without a window, run corvane --headless (see corvane --help)";
}

}  // namespace corvane
