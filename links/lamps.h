// The two link lamps and their double-click handlers.
#pragma once

#include <asio/awaitable.hpp>
#include <string>

namespace corvane {

class Engine;

// The colour of the lamp "SSL" or "RS232" (any case); 0 for any other name.
int LinkLampColor(Engine& e, const std::string& name);
asio::awaitable<void> status_SSL_DblClick(Engine& e);
asio::awaitable<void> status_RS232_DblClick(Engine& e);

}  // namespace corvane
