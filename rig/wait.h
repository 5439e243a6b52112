// Bounded waits that keep an io_context running, for tests, benchmarks and the rig tool.
#pragma once

#include <asio/io_context.hpp>
#include <functional>

namespace corvane::rig {

// Runs handlers of `io` until cond() holds or timeoutMs have passed; returns cond()'s last
// value.
bool RunUntil(asio::io_context& io, const std::function<bool()>& cond, int timeoutMs);
// Runs handlers of `io` for the given time.
void RunFor(asio::io_context& io, int ms);

// Called between turns of every wait: a test with a window handles its events here.
void SetBetweenTurns(std::function<void()> also);

}  // namespace corvane::rig
