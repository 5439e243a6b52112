#include "app/systemd_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>

namespace corvane {

ServiceNotice SystemdNotice() {
    ServiceNotice notice;
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket == nullptr || *socket == '\0') return notice;
    // The environment stays as it is: a program this run starts is not the service.
    notice.notify = [](const std::string& assignments) { sd_notify(0, assignments.c_str()); };
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        notice.watchdog = std::chrono::microseconds(static_cast<std::int64_t>(usec));
    return notice;
}

}  // namespace corvane
