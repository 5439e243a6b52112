#include "app/termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace corvane {

namespace {

int signalPair[2] = {-1, -1};

// Only async-signal-safe work here: one byte down the pair wakes the event loop.
void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPair[1], &c, 1);
}

}  // namespace

void OnTerminationSignals(QObject* context, std::function<void()> handler) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) return;
    auto* notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [handler = std::move(handler)] {
                         char c;
                         [[maybe_unused]] const auto n = ::read(signalPair[0], &c, 1);
                         handler();
                     });
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGHUP, OnSignal);
}

}  // namespace corvane
