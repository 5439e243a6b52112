// The window program on Windows: the native window over the engine.
#pragma once

#include "app/command_line.h"

namespace corvane::win32 {

// Shows the window for the options the program read (a window run: --fresh, --program-dir, as
// the Qt window takes them), runs its message loop until the engine has unloaded after the
// close, keeps the operator's choices for the next run and returns the program's exit status.
int RunWindow(const CommandLine& options);

}  // namespace corvane::win32
