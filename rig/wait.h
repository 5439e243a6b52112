// Bounded waits that keep the event loop running, for tests, benchmarks and the rig tool.
#pragma once

#include <functional>

namespace corvane::rig {

// Handles events until cond() holds or timeoutMs have passed; returns cond()'s last value.
bool RunUntil(const std::function<bool()>& cond, int timeoutMs);
// Handles events for the given time.
void RunFor(int ms);

}  // namespace corvane::rig
