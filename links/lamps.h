// The two link lamps and their double-click handlers.
#pragma once

#include <QString>

namespace corvane {

class WHost;

constexpr int LampUp = 65280;  // green: the link was opened
constexpr int LampDown = 255;  // red: the link was closed, or never opened

// The colour of the lamp "SSL" or "RS232" (any case); 0 for any other name.
int LinkLampColor(WHost& w, const QString& name);
void status_SSL_DblClick(WHost& w);
void status_RS232_DblClick(WHost& w);

}  // namespace corvane
