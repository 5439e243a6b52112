// Opening and closing the TCP connection to the chosen host system.
#pragma once

#include <asio/awaitable.hpp>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class Engine;

// The preset host system entries "name:host:port[:...]", in their stored order.
std::vector<std::string> SystemPresets();

// How long OpenHost and CloseHost wait for the component before they give up.
constexpr int kHostWaitMs = 30000;

// Connects to the system in l_host/l_url/l_socket; returns when the link is up, when the
// component reports a failure, after kHostWaitMs, or when the engine unloads.
asio::awaitable<void> OpenHost(Engine& e);
// Disconnects; does nothing when the host is not connected.
asio::awaitable<void> CloseHost(Engine& e);
bool IsHostConnected(Engine& e);

// The TCP port of a host entry's port field: digits with optional blanks, 1 to 65535.
std::optional<int> HostPortOf(const std::string& field, std::string* why = nullptr);

}  // namespace corvane
