#include "app/start_up.h"

#include "app/w_host.h"

namespace corvane {

WHost* Main() {
    // The toolkit's own initialisation stands in for the platform checks of old: there is
    // nothing to detect before the window is shown.
    static WHost* w_host = nullptr;
    if (!w_host) {
        w_host = new WHost();
        w_host->EndsProgramOnUnload = true;
    }
    w_host->show();
    return w_host;
}

}  // namespace corvane
