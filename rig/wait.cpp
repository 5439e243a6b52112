#include "rig/wait.h"

#include <asio/executor_work_guard.hpp>
#include <chrono>

namespace corvane::rig {

namespace {

std::function<void()>& BetweenTurns() {
    static std::function<void()> also;
    return also;
}

}  // namespace

void SetBetweenTurns(std::function<void()> also) { BetweenTurns() = std::move(also); }

bool RunUntil(asio::io_context& io, const std::function<bool()>& cond, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // With something else to handle between turns, a turn waits briefly; alone, it waits for
    // the next handler up to the deadline.
    const auto turn = std::chrono::milliseconds(BetweenTurns() ? 2 : 5);
    // Held so that a turn with nothing pending waits for the next handler instead of
    // returning at once.
    auto work = asio::make_work_guard(io);
    while (!cond()) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return cond();
        if (io.stopped()) io.restart();
        io.run_one_for(std::min<Clock::duration>(turn, deadline - now));
        if (BetweenTurns()) BetweenTurns()();
    }
    return true;
}

void RunFor(asio::io_context& io, int ms) {
    RunUntil(
        io, [] { return false; }, ms);
}

}  // namespace corvane::rig
