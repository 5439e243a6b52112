#pragma once

namespace corvane {

class WHost;

// Creates the program's one window and shows it; the caller then runs the event loop.
WHost* Main();

}  // namespace corvane
