// The requests to end the program handled on an io_context rather than inside a signal
// handler: SIGTERM, SIGINT and SIGHUP; on Windows the console's Ctrl-C, Ctrl-Break and close,
// and SIGTERM.
#pragma once

#include <asio/io_context.hpp>
#include <functional>

namespace corvane {

// Runs `handler` on `io` (once per request) when one of them arrives. Installed once per
// program; lives as long as `io`.
void OnTerminationSignals(asio::io_context& io, std::function<void()> handler);

}  // namespace corvane
