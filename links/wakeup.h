// Wakes the routines that wait for a condition which changes in another handler (a pump tick
// reads the load request, a link goes down, the operator stops): each waiter looks again.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <vector>

namespace corvane {

class Wakeup {
  public:
    explicit Wakeup(asio::io_context& io) : io_(io) {}
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // Returns at the next Notify.
    asio::awaitable<void> Wait();
    // Returns true at the next Notify, false once `limit` has passed without one.
    asio::awaitable<bool> WaitFor(std::chrono::steady_clock::duration limit);
    // Every routine waiting now returns (from within the io_context, not inside this call).
    void Notify();

  private:
    asio::io_context& io_;
    std::vector<std::weak_ptr<asio::steady_timer>> waiters_;
};

}  // namespace corvane
