// The window program on Windows: the native window over the engine.
#pragma once

namespace corvane::win32 {

// Reads the window's options (as the Qt window does: --fresh, --program-dir), shows the
// window, runs its message loop until the engine has unloaded after the close, keeps the
// operator's choices for the next run and returns the program's exit status.
int RunWindow(int argc, char** argv);

}  // namespace corvane::win32
