#include "links/host_connection.h"

#include <fmt/format.h>

#include <chrono>
#include <functional>

#include "links/engine.h"
#include "logs/comm_log.h"
#include "logs/text_utils.h"
#include "relay/login_keys.h"
#include "relay/pump.h"

namespace corvane {

namespace {

enum class WaitEnd { Reached, Failed, Closed, TimedOut };

// The wait of the open and the close: reads Connected again whenever the engine says that
// something changed (a component event, the unload) until it reads `wanted`, the component
// reports a failure, the engine unloads or the bound passes.
asio::awaitable<WaitEnd> WaitForConnected(Engine& e, bool wanted,
                                          const std::function<bool()>& failed) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kHostWaitMs);
    for (;;) {
        if (e.SSL.Connected() == wanted) co_return WaitEnd::Reached;
        if (e.bUnloaded) co_return WaitEnd::Closed;
        if (failed && failed()) co_return WaitEnd::Failed;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) co_return WaitEnd::TimedOut;
        co_await e.Changed.WaitFor(deadline - now);
    }
}

}  // namespace

std::vector<std::string> SystemPresets() {
    // NovaNET has closed; its entry stays for the terminals that still carry its name.
    return {
        "cyber1:cyberserv.org:8005",
        "cyber1:cyberserv.org:5004",
        "novanet:novanet.invalid:23",
        "Ludric:localhost:8105:@cyberserv.org:8005",
    };
}

std::optional<int> HostPortOf(const std::string& field, std::string* why) {
    const std::string t = Trimmed(field);
    auto fail = [&](const std::string& reason) -> std::optional<int> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (t.empty()) return fail("no port given");
    long long value = 0;
    for (const char c : t) {
        if (c < '0' || c > '9') return fail(fmt::format("port \"{}\" is not a number", t));
        value = value * 10 + (c - '0');
        if (value > 65535) break;
    }
    if (value < 1 || value > 65535) return fail(fmt::format("port {} is outside 1 to 65535", t));
    return static_cast<int>(value);
}

bool IsHostConnected(Engine& e) { return e.SSL.Connected(); }

asio::awaitable<void> OpenHost(Engine& e) {
    // A double-click on the still red lamp during the wait must not start a second open.
    if (e.bUnloaded || e.bOpeningHost) co_return;
    e.sToTerminal.clear();
    e.sToHost.clear();
    const std::string host = e.View().hostUrl;
    std::string why;
    const std::optional<int> port = HostPortOf(e.View().hostSocket, &why);
    if (Trimmed(host).empty() || !port) {
        if (Trimmed(host).empty()) why = "no host address given";
        LogComm(e, fmt::format("Not connecting to \"{}\": {}", e.View().hostName, why), "", false);
        co_return;
    }
    if (IsHostConnected(e)) co_await CloseHost(e);
    if (e.bUnloaded) co_return;

    e.bOpeningHost = true;
    // The component reports a refused, unreachable or unknown host through its Error event,
    // which the engine already logs and counts; here it only ends the wait.
    const std::uint64_t errorsBefore = e.hostErrors;
    e.SSL.setSSLStartMode(3);
    e.SSL.setLinger(true);
    e.SSL.setKeepAlive(true);
    e.SSL.Connect(host, *port);
    e.SSL.DoEvents();

    const WaitEnd end = co_await WaitForConnected(
        e, true, [&e, errorsBefore] { return e.hostErrors != errorsBefore; });
    e.bOpeningHost = false;
    if (end == WaitEnd::TimedOut) {
        LogComm(e,
                fmt::format("No connection to {} port {} after {} s; gave up", host, *port,
                            kHostWaitMs / 1000),
                "", false);
        e.SSL.Disconnect();
    }
    if (end != WaitEnd::Reached || e.bUnloaded) co_return;

    e.Show().milestone = "D";
    e.Show().lampSSL = LampUp;
    if (const auto key = LoginKey(e.View().loginMode)) {
        e.sToHost = *key;
        WakePump(e);
    }
}

asio::awaitable<void> CloseHost(Engine& e) {
    if (!IsHostConnected(e)) co_return;
    e.sToTerminal.clear();
    e.sToHost.clear();
    e.SSL.Disconnect();

    WaitEnd end = co_await WaitForConnected(e, false, nullptr);
    if (end == WaitEnd::TimedOut) {
        // A host that never takes the last bytes keeps a graceful close open: cut it.
        LogComm(e,
                fmt::format("The host did not close in {} s; connection cut", kHostWaitMs / 1000),
                "", false);
        e.SSL.Disconnect();
        if (!e.SSL.Connected()) end = WaitEnd::Reached;
    }
    if (end != WaitEnd::Reached || e.bUnloaded) co_return;
    e.Show().milestone = "A";
    e.Show().lampSSL = LampDown;
}

}  // namespace corvane
