// The keeper's terminal port: opened at the start or waited for, and opened again with the
// same entry and settings when its device comes back. While the device is away the platform's
// PathWatch says when to look again (unattended_port_unix.cpp, unattended_port_win.cpp).
#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "links/bridge.h"
#include "links/host_connection.h"
#include "links/serial_devices.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "links/unattended_internal.h"
#include "logs/text_utils.h"
#include "relay/pump.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

// The number of a "comN" entry as the port's opening reads it; 0 when it gives none.
int PortNumberOf(const std::string& entry) {
    const std::string digits = DigitsOnly(FieldBefore(entry, ":"));
    if (digits.empty() || digits.size() > 9) return 0;
    return std::atoi(digits.c_str());
}

}  // namespace

std::string DeviceOfEntry(const std::string& programDir, const std::string& entry) {
    if (const std::optional<DeviceEntry> device = ParseDeviceEntry(entry)) return device->device;
    return DevicePathForPort(programDir, PortNumberOf(entry));
}

std::vector<std::string> WatchedPathsOfEntry(const std::string& programDir,
                                             const std::string& entry) {
    if (const std::optional<DeviceEntry> device = ParseDeviceEntry(entry)) return {device->device};
    const int n = PortNumberOf(entry);
    if (n < 1) return {};
    // A ports/comN link made later decides where the number leads.
    return {(fs::path(programDir) / "ports" / fmt::format("com{}", n)).string(),
            DevicePathForPort(programDir, n)};
}

std::string PortNameOfEntry(const std::string& entry) {
    if (const std::optional<DeviceEntry> device = ParseDeviceEntry(entry)) return device->device;
    return fmt::format("com{}", PortNumberOf(entry));
}

// ---- the port ----

asio::awaitable<bool> Unattended::Impl::StartPort() {
    // As the start button: the port, then the status line and the chunk delay.
    const std::string device = DeviceOfEntry(e.ProgramDir(), e.Choices().portEntry);
    const bool missing = DeviceMissing(device);
    if (!missing) co_await OpenTerminalPort(e);
    if (Done()) co_return false;
    e.Show().statusLineEnabled = true;
    e.Show().statusLine.clear();
    e.Show().chunkDelayEnabled = false;
    mode = Mode::AwaitLoad;
    if (IsTerminalPortOpen(e)) {
        everOpened = true;
        port = UnattendedState::Port::Open;
        Tell();
        co_return true;
    }
    // Bad entries, refused access and busy devices are not mended by waiting.
    if (!missing) co_return false;
    port = UnattendedState::Port::Waiting;
    Tell();
    Log(fmt::format("Terminal port {}: waiting for its device {}",
                    PortNameOfEntry(e.Choices().portEntry), device));
    co_return true;
}

asio::awaitable<void> Unattended::Impl::PortAway() {
    const KeeperClock::time_point since = KeeperClock::now();
    // The host stays for the grace time: a cable or hub glitch must not cost the session.
    const bool hostWanted = mode == Mode::Relay;
    std::optional<KeeperClock::time_point> keepUntil;
    if (hostWanted) {
        keptLoginMode = e.View().loginMode;
        if (IsHostConnected(e)) keepUntil = since + options.grace;
    }
    bool hostKept = hostWanted;
    port = UnattendedState::Port::Waiting;
    Tell();
    int failures = 0;
    std::optional<KeeperClock::time_point> retryAt;
    for (;;) {
        if (Done()) break;
        KeeperClock::time_point now = KeeperClock::now();
        if (keepUntil && now >= *keepUntil) {
            keepUntil.reset();
            hostKept = false;
            co_await CloseHostAfterGrace();
            continue;
        }
        const std::string entry = e.Choices().portEntry;
        const std::string device = DeviceOfEntry(e.ProgramDir(), entry);
        // Watched before the look, so that a device appearing in between is not missed.
        const bool watching = watch.Watch(WatchedPathsOfEntry(e.ProgramDir(), entry));
        if (DeviceMissing(device)) retryAt.reset();  // a new device is tried at once
        if (!device.empty() && !DeviceMissing(device) && (!retryAt || now >= *retryAt)) {
            co_await OpenTerminalPort(e);
            if (Done()) break;
            if (IsTerminalPortOpen(e)) {
                watch.Stop();
                PortBack(since, hostKept);
                co_return;
            }
            // There but not usable yet (its access not yet given, busy): look again after
            // growing pauses, or when it changes.
            ++failures;
            const std::chrono::milliseconds pause = std::min(
                options.firstPause * (1 << std::min(failures - 1, 20)), options.longestPause);
            retryAt = KeeperClock::now() + pause;
            continue;
        }
        now = KeeperClock::now();
        KeeperClock::time_point due = KeeperClock::time_point::max();
        if (keepUntil) due = std::min(due, *keepUntil);
        if (retryAt) due = std::min(due, *retryAt);
        if (!watching) due = std::min(due, now + options.absentLook);
        if (due == KeeperClock::time_point::max())
            co_await e.Changed.Wait();
        else if (due > now)
            co_await e.Changed.WaitFor(due - now);
    }
    watch.Stop();
}

asio::awaitable<void> Unattended::Impl::CloseHostAfterGrace() {
    Log(fmt::format("Terminal port {} away for {}: host connection closed", e.Comm.PortName(),
                    DurationText(options.grace)));
    // The close must see the host's end of the link: let its data in again.
    e.HoldHostOutput = false;
    e.SSL.setAcceptData(true);
    outage.reset();
    hostWasUp = false;
    mode = Mode::AwaitLoad;
    co_await b_stop_Click(e);
    if (!stopping) e.HoldHostOutput = true;
    Tell();
}

void Unattended::Impl::PortBack(KeeperClock::time_point since, bool hostKept) {
    const std::string took = DurationText(KeeperClock::now() - since);
    if (everOpened)
        Log(fmt::format("Terminal port {} back after {}", e.Comm.PortName(), took));
    else
        Log(fmt::format("Terminal port {} open after {} of waiting", e.Comm.PortName(), took));
    everOpened = true;
    port = UnattendedState::Port::Open;
    if (hostKept) {
        // The same terminal behind a replugged adapter: its session goes on where it was.
        // A link that went down meanwhile is found lost, and reached again, by KeepHost.
        e.Show().loginMode = keptLoginMode;
        if (hostWasUp) e.Show().milestone = "D";
        mode = Mode::Relay;
    } else {
        e.Show().statusLineEnabled = true;
        e.Show().statusLine.clear();
        e.Show().chunkDelayEnabled = false;
        mode = Mode::AwaitLoad;
    }
    // What the host sent meanwhile goes out now.
    WakePump(e);
    Tell();
}

}  // namespace corvane
