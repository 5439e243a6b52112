// Opening and closing the serial port of the terminal, and its line-change event.
#pragma once

#include <asio/awaitable.hpp>

namespace corvane {

class Engine;

// Opens the port of c_ports' entry; a port that cannot be opened is said to the operator,
// and the routine returns once the message is answered.
asio::awaitable<void> OpenTerminalPort(Engine& e);
void CloseTerminalPort(Engine& e);
bool IsTerminalPortOpen(Engine& e);
asio::awaitable<void> Comm_OnComm(Engine& e, int event);

}  // namespace corvane
