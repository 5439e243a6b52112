#include <asio/signal_set.hpp>
#include <csignal>
#include <optional>
#include <utility>

#include "app/termination_signals.h"

namespace corvane {

namespace {

// Owns the signal set for as long as the io_context lives: a service of the context goes
// with it, and lets go of the set before the context's own services are destroyed.
class TerminationSignals : public asio::execution_context::service {
  public:
    using key_type = TerminationSignals;
    static inline asio::execution_context::id id;

    explicit TerminationSignals(asio::execution_context& context) : service(context) {}

    void Install(asio::io_context& io, std::function<void()> handler) {
        handler_ = std::move(handler);
        if (!signals_) {
            signals_.emplace(io, SIGTERM, SIGINT, SIGHUP);
            Arm();
        }
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

    void shutdown() override { signals_.reset(); }

    std::optional<asio::signal_set> signals_;
    std::function<void()> handler_;
};

}  // namespace

void OnTerminationSignals(asio::io_context& io, std::function<void()> handler) {
    asio::use_service<TerminationSignals>(io).Install(io, std::move(handler));
}

}  // namespace corvane
