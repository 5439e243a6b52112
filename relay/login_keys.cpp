#include "relay/login_keys.h"

#include "links/engine.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"
#include "logs/comm_log.h"
#include "relay/pump.h"

namespace corvane {

std::optional<std::string> LoginKey(const std::string& loginMode) {
    if (loginMode == "next") return std::string("\x0D", 1);
    if (loginMode == "stop1") return std::string("\x11", 1);
    return std::nullopt;
}

asio::awaitable<void> WakeupHost(Engine& e) {
    if (e.bUnloaded) co_return;
    try {
        // The load's last bytes must leave the line at its own framing.
        co_await e.Comm.SettingsAfterDrain("2400,e,7,1");
    } catch (const CommError& error) {
        LogComm(e, error.what(), "", false);
    }
    if (e.bUnloaded) co_return;
    e.bLoadingResident = false;
    if (IsTerminalPortOpen(e)) {
        e.Show().loginMode = "next";
        co_await OpenHost(e);
        if (e.bUnloaded) co_return;
    }
    e.sToHost = std::string("\x0D\x0D", 2);
    WakePump(e);
    e.Show().chunkDelayEnabled = true;
}

}  // namespace corvane
