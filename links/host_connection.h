// Opening and closing the TCP connection to the chosen host system.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvane {

class WHost;

// The preset host system entries "name:host:port[:...]", in their stored order.
QStringList SystemPresets();

// How long OpenHost and CloseHost wait for the component before they give up.
constexpr int kHostWaitMs = 30000;

// Connects to the system in l_host/l_url/l_socket; returns when the link is up, when the
// component reports a failure, after kHostWaitMs, or when the window is closed.
void OpenHost(WHost& w);
// Disconnects; does nothing when the host is not connected.
void CloseHost(WHost& w);
bool IsHostConnected(WHost& w);

// The TCP port of a host entry's port field: digits with optional blanks, 1 to 65535.
std::optional<int> HostPortOf(const QString& field, QString* why = nullptr);

}  // namespace corvane
