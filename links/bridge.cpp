#include "links/bridge.h"

#include "links/engine.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"
#include "resident/loader.h"

namespace corvane {

asio::awaitable<void> b_start_Click(Engine& e) {
    // A view disables its start button only once the view comes back: a second click that
    // reaches the engine after the first opened the port is a click on a disabled button.
    if (e.bUnloaded || !e.View().startEnabled) co_return;
    co_await OpenTerminalPort(e);
    if (e.bUnloaded) co_return;  // closed while the port's message was up
    e.Show().statusLineEnabled = true;
    e.Show().statusLine.clear();
    e.Show().chunkDelayEnabled = false;
    co_await WaitForLoadFileRequest(e);
}

asio::awaitable<void> b_stop_Click(Engine& e) {
    e.bLoadingResident = false;
    e.Changed.Notify();
    CloseTerminalPort(e);
    co_await CloseHost(e);
    e.Show().statusLineEnabled = false;
    e.Show().statusLine = "HOST NOT CONNECTED";
    e.Show().chunkDelayEnabled = true;
}

}  // namespace corvane
