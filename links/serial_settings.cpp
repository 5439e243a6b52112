// Line settings and handshaking: the change at once or after the queued output has left the
// line, and the old settings put back when the device refuses new ones.
#include <fmt/core.h>

#include <algorithm>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <cmath>

#include "links/serial_port.h"
#include "links/serial_port_internal.h"

namespace corvane {

using namespace serial;

void SerialPort::setSettings(const std::string& text) {
    std::string why;
    const std::optional<LineSettings> s = ParseLineSettings(text, &why);
    if (!s) Raise(fmt::format("line settings \"{}\": {}", text, why));
    if (PortOpen()) applyOrRestore(*s, handshaking_);
    settings_ = *s;
    settingsText_ = FormatLineSettings(*s);
}

asio::awaitable<void> SerialPort::SettingsAfterDrain(std::string text) {
    std::string why;
    const std::optional<LineSettings> s = ParseLineSettings(text, &why);
    if (!s) Raise(fmt::format("line settings \"{}\": {}", text, why));
    if (PortOpen() && !(*s == settings_)) {
        // Output still queued would leave the line at the new framing, corrupted: let it go
        // first. The device then sends the last characters it holds before the change, where
        // it can.
        const std::shared_ptr<bool> alive = alive_;
        const bool drained = co_await drainOutput();
        if (!*alive) co_return;
        if (PortOpen()) applyOrRestore(*s, handshaking_, drained ? kApplyAfterDrain : kApplyNow);
        if (!drained && PortOpen()) raiseEvent(comEventDrainTimeout);
    } else if (PortOpen()) {
        applyOrRestore(*s, handshaking_);
    }
    settings_ = *s;
    settingsText_ = FormatLineSettings(*s);
}

asio::awaitable<bool> SerialPort::drainOutput() {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    const int queued = OutBufferCount();
    if (queued <= 0) co_return true;
    const std::shared_ptr<bool> alive = alive_;
    const std::uint64_t open = opens_;
    const Clock::time_point deadline =
        Clock::now() + milliseconds(static_cast<std::int64_t>(LineMs(queued)) + 1000);
    // The component's queue empties through the write wait; the device's empties without
    // telling anyone, so look again once the line has had time to send what it holds.
    asio::steady_timer look(io_);
    while (PortOpen() && opens_ == open) {
        const int left = OutBufferCount();
        if (left <= 0) break;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) co_return false;
        const std::int64_t remaining =
            std::chrono::duration_cast<milliseconds>(deadline - now).count();
        const std::int64_t lineTime = static_cast<std::int64_t>(std::ceil(LineMs(left)));
        look.expires_after(
            milliseconds(std::max<std::int64_t>(1, std::min(lineTime, remaining + 1))));
        std::error_code ec;
        co_await look.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        if (!*alive) co_return false;  // the port is gone: touch nothing of it
    }
    co_return PortOpen() && opens_ == open;
}

void SerialPort::setHandshaking(int mode) {
    if (mode < 0 || mode > 3)
        Raise(fmt::format(
            "handshaking {} is not one of 0 (none), 1 (XON/XOFF), 2 (RTS/CTS), 3 (both)", mode));
    if (PortOpen()) applyOrRestore(settings_, mode);
    handshaking_ = mode;
}

void SerialPort::applyOrRestore(const LineSettings& s, int handshaking, int when) {
    try {
        applySettings(s, handshaking, when);
    } catch (const DeviceLost& e) {
        portLost(e.what());
        throw;
    } catch (const CommError&) {
        try {
            applySettings(settings_, handshaking_);  // the device refused: the old ones back
        } catch (const CommError&) {
        }
        throw;
    }
}

}  // namespace corvane
