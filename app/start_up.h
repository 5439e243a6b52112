#pragma once

#include <QString>

namespace corvane {

class WHost;

// Creates the program's one window and shows it; the caller then runs the event loop.
// programDir as for WHost: empty means the executable's folder.
WHost* Main(const QString& programDir = QString());

// The program's folder for a run: the one given; else, for a program installed in a bin
// folder (whose folder is no place for load files and logs), the user's data folder
// corvane; else empty, the executable's folder. Made when missing; empty `why` on success.
QString ProgramDirFor(const QString& given, QString* why);

// Why the window cannot be shown in this environment (no display server named, no platform
// chosen), as a text for the user that points at --headless; empty when it can.
QString NoDisplayReason();

}  // namespace corvane
