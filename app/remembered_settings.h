// The operator's choices kept between runs of the window: port entry, host system, resident
// flag and kind, chunk delay, log to file, monitor shown.
#pragma once

#include <QStringList>

class QSettings;

namespace corvane {

class WHost;

// Writes the choices as the controls hold them.
void SaveOperatorSettings(WHost& w, QSettings& settings);

// Puts the stored choices into the controls through their handlers, as the operator's clicks
// would. A stored value that is no longer valid leaves that control in its start state; each
// such value gives a line, written to the communication log (after "Log to File" is restored)
// and returned.
QStringList RestoreOperatorSettings(WHost& w, QSettings& settings);

}  // namespace corvane
