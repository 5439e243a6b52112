// A whole bridge run without a display: the start button's routines on a window that is never
// shown, its settings from the command line, until SIGTERM or SIGINT.
#pragma once

namespace corvane {

struct CommandLine;

// Needs the application object (on the offscreen platform) and runs its event loop. Returns
// the exit status: 0 after a termination signal, 1 when the host cannot be reached or a link
// is lost after the run came up, 2 when the port cannot be opened or the folder made.
int RunHeadless(const CommandLine& options);

}  // namespace corvane
