#include "relay/host_data.h"

#include "links/engine.h"
#include "relay/bounds.h"

namespace corvane {

std::string CleanIac(const std::string& text, bool& pending) {
    std::string clean;
    clean.reserve(text.size());
    for (const char c : text) {
        if (static_cast<unsigned char>(c) == 0xFF)
            pending = !pending;
        else
            pending = false;
        if (!pending) clean.push_back(c);
    }
    return clean;
}

void SSL_DataIn(Engine& e, const std::string& text, bool /*endOfLine*/) {
    if (e.View().hostName == "novanet" || text.find('\xFF') == std::string::npos)
        e.sToTerminal.append(text);
    else
        e.sToTerminal.append(CleanIac(text, e.bIacPending));
    // A terminal that takes less than the host sends: hold the host back, drop nothing.
    if (e.sToTerminal.size() > kToTerminalHigh) e.SSL.setAcceptData(false);
}

}  // namespace corvane
