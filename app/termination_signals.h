// SIGTERM, SIGINT and SIGHUP handled on an io_context rather than inside the signal handler.
#pragma once

#include <asio/io_context.hpp>
#include <functional>

namespace corvane {

// Runs `handler` on `io` (once per signal) when one of the three signals arrives. Installed
// once per program; lives as long as `io`.
void OnTerminationSignals(asio::io_context& io, std::function<void()> handler);

}  // namespace corvane
