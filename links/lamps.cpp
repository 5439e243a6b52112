#include "links/lamps.h"

#include <strings.h>

#include "links/engine.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"

namespace corvane {

int LinkLampColor(Engine& e, const std::string& name) {
    if (::strcasecmp(name.c_str(), "SSL") == 0) return e.View().lampSSL;
    if (::strcasecmp(name.c_str(), "RS232") == 0) return e.View().lampRS232;
    return 0;
}

asio::awaitable<void> status_RS232_DblClick(Engine& e) {
    const int c = LinkLampColor(e, "RS232");
    if (c == LampUp)
        CloseTerminalPort(e);
    else if (c == LampDown)
        co_await OpenTerminalPort(e);
}

asio::awaitable<void> status_SSL_DblClick(Engine& e) {
    const int c = LinkLampColor(e, "SSL");
    if (c == LampUp)
        co_await CloseHost(e);
    else if (c == LampDown)
        co_await OpenHost(e);
}

}  // namespace corvane
