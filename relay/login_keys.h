// The milestone, the login mode and the key replayed to the host on connect.
#pragma once

#include <asio/awaitable.hpp>
#include <optional>
#include <string>

namespace corvane {

class Engine;

// The key that replaces sToHost when the host connects: 0x0D for "next", 0x11 for "stop1".
std::optional<std::string> LoginKey(const std::string& loginMode);

// Ends every resident-load handshake: relay settings back (once the load has left the
// line), host connected, two carriage returns queued.
asio::awaitable<void> WakeupHost(Engine& e);

}  // namespace corvane
