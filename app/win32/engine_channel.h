// The one channel between the window and the engine: the engine lives on a thread of its own
// that runs its io_context; the window posts calls into it, and what the engine tells its
// listeners comes back to the window's thread through a message posted to the window.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

#include "app/win32/windows_api.h"
#include "links/engine.h"

namespace corvane::win32 {

// What the window hears, on its own thread, in the engine's order.
class ChannelListener {
  public:
    virtual ~ChannelListener() = default;
    virtual void ViewChanged(const EngineView& view) = 0;
    // The engine's routine waits until the window posts Engine::MessageAnswered.
    virtual void Message(const std::string& text) = 0;
    virtual void Unloaded() = 0;
};

class EngineChannel {
  public:
    // Makes the engine for programDir (which must not be empty) and starts its thread. News is
    // announced by posting `wakeMessage` to `window`, whose procedure then calls Deliver.
    EngineChannel(const std::string& programDir, HWND window, UINT wakeMessage,
                  ChannelListener& listener);
    // Unloads an engine that is still loaded (its links close, its waits end) for at most a
    // few seconds, then stops the loop and joins the thread. Undelivered news is dropped.
    ~EngineChannel();
    EngineChannel(const EngineChannel&) = delete;
    EngineChannel& operator=(const EngineChannel&) = delete;

    // Runs `call` on the engine's thread, after every call posted before it. From any thread.
    void Post(std::function<void(Engine&)> call);
    // Runs `call` on the engine's thread, then `back` on the window's thread once everything
    // the engine told before `call` returned has been delivered.
    void Then(std::function<void(Engine&)> call, std::function<void()> back);
    // On the window's thread, for the wake message: hands the listener everything queued.
    void Deliver();

    asio::io_context& io() { return io_; }

  private:
    struct MessageText {
        std::string text;
    };
    struct Unload {};
    struct Back {
        std::function<void()> call;
    };
    using Item = std::variant<EngineView, MessageText, Unload, Back>;
    class Relay;

    void Hand(Item item);
    void Run();

    HWND window_;
    UINT wakeMessage_;
    ChannelListener& listener_;
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<Relay> relay_;
    std::thread thread_;

    std::mutex mutex_;  // orders everything handed over
    std::deque<Item> handed_;
    bool wakePosted_ = false;  // a wake message is on its way
    std::condition_variable unloadedNow_;
    bool unloaded_ = false;
};

}  // namespace corvane::win32
