#pragma once

#include <QString>
#include <string>

namespace corvane {

class WHost;

// Creates the program's one window and shows it; the caller then runs the event loop, which
// ends once the engine has unloaded after the window's close.
// programDir as for WHost: empty means the executable's folder.
WHost* Main(const QString& programDir = QString());

// Why the window cannot be shown in this environment (no display server named, no platform
// chosen), as a text for the user that points at --headless; empty when it can.
std::string NoDisplayReason();

}  // namespace corvane
