#include "links/wakeup.h"

#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace corvane {

asio::awaitable<bool> Wakeup::WaitFor(std::chrono::steady_clock::duration limit) {
    auto timer = std::make_shared<asio::steady_timer>(io_);
    if (limit == std::chrono::steady_clock::duration::max())
        timer->expires_at(std::chrono::steady_clock::time_point::max());
    else
        timer->expires_after(limit);
    // Waiters that have gone are dropped as new ones come, so the list stays short.
    std::erase_if(waiters_, [](const auto& w) { return w.expired(); });
    waiters_.push_back(timer);
    asio::error_code ec;
    co_await timer->async_wait(asio::redirect_error(asio::use_awaitable, ec));
    co_return ec == asio::error::operation_aborted;
}

asio::awaitable<void> Wakeup::Wait() {
    co_await WaitFor(std::chrono::steady_clock::duration::max());
}

void Wakeup::Notify() {
    std::vector<std::weak_ptr<asio::steady_timer>> waiting;
    waiting.swap(waiters_);
    for (auto& w : waiting)
        if (auto timer = w.lock()) timer->cancel();
}

}  // namespace corvane
