// SIGTERM, SIGINT and SIGHUP handled on the event loop rather than inside the signal handler.
#pragma once

#include <functional>

class QObject;

namespace corvane {

// Runs `handler` on the event loop of `context`'s thread when one of the three signals
// arrives. Installed once per program.
void OnTerminationSignals(QObject* context, std::function<void()> handler);

}  // namespace corvane
