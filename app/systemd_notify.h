// What a headless run tells its service manager: that it is ready, a status line, and that its
// event loop is alive. The headless program alone links libsystemd; the run itself is given
// these as plain functions, so that the library the tests link needs none of it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace corvane {

struct ServiceNotice {
    // Sends newline-separated assignments ("READY=1", "STATUS=...", "WATCHDOG=1"); empty when
    // no manager listens.
    std::function<void(const std::string& assignments)> notify;
    // The interval within which the manager wants a WATCHDOG=1; zero when it wants none.
    std::chrono::microseconds watchdog{0};
};

// systemd's: sd_notify to $NOTIFY_SOCKET and the interval of $WATCHDOG_USEC when it is meant
// for this process (sd_watchdog_enabled). Nothing when the service was not started so.
ServiceNotice SystemdNotice();

}  // namespace corvane
