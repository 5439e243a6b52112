#include "links/terminal_port.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdlib>

#include "links/engine.h"
#include "links/host_connection.h"
#include "links/serial_devices.h"
#include "logs/comm_log.h"
#include "logs/text_utils.h"

namespace corvane {

namespace {

void ShowPortOpen(Engine& e) {
    EngineView& v = e.Show();
    v.lampRS232 = LampUp;
    v.portEntryEnabled = false;
    v.startEnabled = false;
    v.stopEnabled = true;
    v.milestone = "A";
    v.loginMode.clear();
}

// The same steps as a numbered port, on the device an entry names; the reason is returned
// when it cannot be opened.
std::optional<std::string> OpenPort(Engine& e, const std::string& device, int number,
                                    const std::string& settings) {
    try {
        if (!IsTerminalPortOpen(e)) {
            e.Comm.setDevicePath(device);
            if (device.empty()) e.Comm.setCommPort(number);
            e.Comm.setSettings(settings);
            e.Comm.setHandshaking(0);
            e.Comm.setDTREnable(true);
            e.Comm.setRTSEnable(true);
            e.Comm.setPortOpen(true);
        }
    } catch (const CommError& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

}  // namespace

asio::awaitable<void> OpenTerminalPort(Engine& e) {
    const std::string entry = e.Choices().portEntry;
    if (const std::optional<DeviceEntry> device = ParseDeviceEntry(entry)) {
        if (std::optional<std::string> reason = OpenPort(e, device->device, 0, device->settings)) {
            LogComm(e, *reason, "", false);
            // The component names the device first; the message already does.
            const std::string prefix = device->device + ": ";
            if (reason->rfind(prefix, 0) == 0) reason->erase(0, prefix.size());
            co_await ShowMessage(
                e, DeviceOpenFailure(*device, *reason, DeviceAccessRefused(device->device)));
            co_return;
        }
        ShowPortOpen(e);
        co_return;
    }
    int number = 0;
    std::string settings;
    std::optional<std::string> failure;
    const std::string digits = DigitsOnly(FieldBefore(entry, ":"));
    errno = 0;
    const long long n = digits.empty() ? 0 : std::strtoll(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || n > 2147483647LL) {
        failure = "the port number " + digits + " is too large";
    } else {
        number = static_cast<int>(n);
        settings = FieldAfter(entry, ":");
        failure = OpenPort(e, std::string(), number, settings);
    }
    if (failure) {
        LogComm(e, *failure, "", false);
        co_await ShowMessage(e, "Can't open com" + std::to_string(number) + ":" + settings);
        co_return;
    }
    ShowPortOpen(e);
}

void CloseTerminalPort(Engine& e) {
    e.sToTerminal.clear();
    e.sToHost.clear();
    try {
        e.Comm.setRTSEnable(false);
        if (IsTerminalPortOpen(e)) e.Comm.setPortOpen(false);
    } catch (const CommError& error) {
        LogComm(e, error.what(), "", false);
    }
    EngineView& v = e.Show();
    v.portEntryEnabled = true;
    v.milestone.clear();
    v.lampRS232 = LampDown;
    v.stopEnabled = false;
    v.startEnabled = true;
    e.Changed.Notify();
}

bool IsTerminalPortOpen(Engine& e) { return e.Comm.PortOpen(); }

asio::awaitable<void> Comm_OnComm(Engine& e, int event) {
    if (event == comEvCTS) {
        e.sToHost.clear();
        e.sToTerminal.clear();
        e.Show().milestone = "A";
        if (IsHostConnected(e)) co_await CloseHost(e);
    } else if (event == comEventPortLost) {
        // The device went away under us (adapter pulled, line hung up): from now on the
        // port is closed, as if the operator had closed it, and the log says why. The
        // component reports a loss once and logs nothing, so this is the one line.
        const std::string& why = e.Comm.LostReason();
        LogComm(e,
                fmt::format("Terminal port {} lost: {}", e.Comm.PortName(),
                            why.empty() ? "the device hung up or was removed" : why),
                "", false);
        CloseTerminalPort(e);
    } else if (event == comEventDrainTimeout) {
        LogComm(e,
                fmt::format("Terminal port {}: queued output had not left the line; line "
                            "settings changed anyway",
                            e.Comm.PortName()),
                "", false);
    }
}

}  // namespace corvane
