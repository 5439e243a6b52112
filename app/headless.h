// A bridge run without a display, on the engine, its settings from the command line, until
// SIGTERM or SIGINT. By default the run keeps the terminal in service (links/unattended.h);
// with --once it is the start button's run and ends at the first fault. No Qt: the systemd
// unit runs it.
#pragma once

#include "app/systemd_notify.h"

namespace corvane {

struct CommandLine;

// Runs its own io_context on the calling thread and tells `notice` (when it has a listener)
// that it is ready, how it stands, and that its loop is alive. Returns the exit status: 0
// after a termination signal; with --once 1 when the host cannot be reached or a link is
// lost after the run came up; 2 when the port is there and cannot be opened (with --once
// also when it is missing) or the folder cannot be made.
int RunHeadless(const CommandLine& options, const ServiceNotice& notice = {});

}  // namespace corvane
