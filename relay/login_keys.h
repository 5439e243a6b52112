// The milestone, the login mode and the key replayed to the host on connect.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvane {

class WHost;

// The key that replaces sToHost when the host connects: 0x0D for "next", 0x11 for "stop1".
std::optional<QByteArray> LoginKey(const QString& loginMode);

// Ends every resident-load handshake: relay settings back, host connected, two carriage
// returns queued.
void WakeupHost(WHost& w);

}  // namespace corvane
