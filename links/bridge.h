// The start and stop buttons of a bridge run.
#pragma once

#include <asio/awaitable.hpp>

namespace corvane {

class Engine;

asio::awaitable<void> b_start_Click(Engine& e);
// Safe with nothing open: the close path runs it regardless.
asio::awaitable<void> b_stop_Click(Engine& e);

}  // namespace corvane
