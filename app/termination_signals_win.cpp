// On Windows a console's Ctrl-C, Ctrl-Break and close come as console control events, on a
// thread the system starts for each; SIGTERM only from raise().
#include <windows.h>

#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <utility>

#include "app/termination_signals.h"

namespace corvane {

namespace {

class TerminationSignals;

// The console's events go to the signals of the newest io_context that asked for them.
std::mutex gMutex;
std::condition_variable gGone;
TerminationSignals* gCurrent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event);

// Owns the handlers for as long as the io_context lives: a service of the context goes with
// it, and lets go of them before the context's own services are destroyed.
class TerminationSignals : public asio::execution_context::service {
  public:
    using key_type = TerminationSignals;
    static inline asio::execution_context::id id;

    explicit TerminationSignals(asio::execution_context& context) : service(context) {}

    void Install(asio::io_context& io, std::function<void()> handler) {
        handler_ = std::move(handler);
        if (signals_) return;
        io_ = &io;
        signals_.emplace(io, SIGTERM);
        Arm();
        std::lock_guard lock(gMutex);
        gCurrent = this;
        ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
    }

    // From the event's own thread: the handler runs on the io_context.
    void Post() {
        asio::post(*io_, [this] {
            if (handler_) handler_();
        });
    }

  private:
    // Re-armed after each signal, so a second one is handled too.
    void Arm() {
        signals_->async_wait([this](const std::error_code& error, int) {
            if (error) return;  // cancelled: the context is going
            Arm();
            if (handler_) handler_();
        });
    }

    void shutdown() override {
        {
            std::lock_guard lock(gMutex);
            if (gCurrent == this) {
                gCurrent = nullptr;
                ::SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
            }
        }
        gGone.notify_all();
        signals_.reset();
    }

    asio::io_context* io_ = nullptr;
    std::optional<asio::signal_set> signals_;
    std::function<void()> handler_;
};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    std::unique_lock lock(gMutex);
    if (!gCurrent) return FALSE;  // the system's default: the process ends
    gCurrent->Post();
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            return TRUE;
        default:
            // A closed console, a log-off or a shutdown ends the process as soon as this
            // returns: the run gets the time the system allows (5 s) to stop in order.
            gGone.wait_for(lock, std::chrono::milliseconds(4500), [] { return !gCurrent; });
            return TRUE;
    }
}

}  // namespace

void OnTerminationSignals(asio::io_context& io, std::function<void()> handler) {
    asio::use_service<TerminationSignals>(io).Install(io, std::move(handler));
}

}  // namespace corvane
