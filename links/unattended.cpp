// The keeper's main loop, the host link and the loads. Every step is one of the engine's own
// routines (OpenHost, CloseHost, loadresident, WakeupHost); the keeper only decides when.
#include "links/unattended.h"

#include <fmt/format.h>

#include <algorithm>

#include "links/host_connection.h"
#include "links/terminal_port.h"
#include "links/unattended_internal.h"
#include "logs/comm_log.h"
#include "relay/login_keys.h"
#include "relay/pump.h"
#include "resident/loader.h"

namespace corvane {

std::string DurationText(std::chrono::steady_clock::duration d) {
    const long long ms =
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    if (ms < 9950) return fmt::format("{:.1f} s", static_cast<double>(ms) / 1000);
    const long long s = (ms + 500) / 1000;
    if (s < 60) return fmt::format("{} s", s);
    if (s < 3600) return fmt::format("{} min {} s", s / 60, s % 60);
    return fmt::format("{} h {} min", s / 3600, s % 3600 / 60);
}

Unattended::Impl::Impl(Engine& engine, UnattendedOptions o)
    : e(engine), options(o), watch(engine.io(), [&engine] { engine.Changed.Notify(); }) {}

std::string Unattended::Impl::HostName() const {
    const EngineView& v = e.View();
    return fmt::format("{} ({} port {})", v.hostName, v.hostUrl, v.hostSocket);
}

std::string Unattended::Impl::HostReason(const std::string& otherwise) const {
    return e.HostLinkReason.empty() ? otherwise : e.HostLinkReason;
}

void Unattended::Impl::Log(const std::string& text) { LogComm(e, text, "", false); }

UnattendedState Unattended::Impl::State() const {
    UnattendedState s;
    s.port = port;
    s.portName = PortNameOfEntry(e.Choices().portEntry);
    if (e.SSL.Connected())
        s.host = UnattendedState::Host::Up;
    else if (outage)
        s.host = UnattendedState::Host::Reconnecting;
    else if (connecting)
        s.host = UnattendedState::Host::Connecting;
    s.milestone = e.View().milestone;
    s.loadsServed = loadsServed;
    s.attempts = outage ? outage->attempts : 0;
    s.bytesToHost = e.nBytesToHost;
    s.bytesToTerminal = e.nBytesToTerminal;
    return s;
}

void Unattended::Impl::Tell() {
    UnattendedState now = State();
    now.bytesToHost = now.bytesToTerminal = 0;
    if (now == told) return;
    told = now;
    if (changed) changed();
}

void Unattended::Impl::ViewChanged(const EngineView& view) {
    // Only the milestone matters here (a first key); the loader's status changes per byte.
    if (view.milestone == lastMilestone) return;
    lastMilestone = view.milestone;
    e.Changed.Notify();
    Tell();
}

asio::awaitable<void> Unattended::Impl::Main(std::function<void(bool refused)> started) {
    const bool opened = co_await StartPort();
    if (started) started(!opened);
    if (!opened) co_return;
    while (!Done()) {
        if (!IsTerminalPortOpen(e)) {
            co_await PortAway();
        } else if (pendingLoad) {
            co_await ServeLoad(*pendingLoad);
        } else if (mode == Mode::AwaitLoad) {
            co_await AwaitLoad();
        } else {
            co_await KeepHost();
        }
    }
}

asio::awaitable<void> Unattended::Impl::AwaitLoad() {
    if (e.Choices().residentLoaded) {
        // Marked as loaded: connect before any key, as the start does.
        mode = Mode::Relay;
        co_await ConnectHost(true);
        co_return;
    }
    e.nLoadFileRequest = -1;
    for (;;) {
        if (Done() || !IsTerminalPortOpen(e)) co_return;
        if (e.nLoadFileRequest != -1) {
            pendingLoad = e.nLoadFileRequest;
            co_return;
        }
        if (e.View().milestone == "C") {
            // A key of a user, not a load request: the terminal already holds its resident.
            // OpenHost replays that key as the login key.
            Log(fmt::format("First key ({}) before any load request: connecting to {}",
                            e.View().loginMode, HostName()));
            mode = Mode::Relay;
            co_await ConnectHost(false);
            e.Show().chunkDelayEnabled = true;
            co_return;
        }
        co_await e.Changed.Wait();
    }
}

asio::awaitable<void> Unattended::Impl::ServeLoad(int request) {
    pendingLoad.reset();
    // Served as at start: no host while the line carries the load, a new connection after.
    if (IsHostConnected(e)) {
        hostWasUp = false;
        co_await CloseHost(e);
    }
    if (Done() || !IsTerminalPortOpen(e)) co_return;
    e.nLoadFileRequest = request;
    e.Show().statusLineEnabled = true;
    e.Show().statusLine = "LOADING FILE " + TwoDigits(request);
    Log(e.View().statusLine);
    co_await loadresident(e);
    // The status line's last word, once: the log has no room for one line per byte.
    Log(e.View().statusLine);
    ++loadsServed;
    Tell();
    if (Done()) co_return;
    if (!IsTerminalPortOpen(e)) {
        // The device went during the load: the line's settings back, no host; the terminal
        // starts afresh once it is back.
        co_await WakeupHost(e);
        mode = Mode::AwaitLoad;
        co_return;
    }
    mode = Mode::Relay;
    co_await ConnectHost(true);
}

asio::awaitable<void> Unattended::Impl::ConnectHost(bool afterLoad) {
    connecting = true;
    if (outage) {
        ++outage->attempts;
        e.MuteHostStatus = true;
    }
    Tell();
    if (afterLoad)
        co_await WakeupHost(e);
    else
        co_await OpenHost(e);
    e.MuteHostStatus = false;
    connecting = false;
    if (Done()) co_return;
    if (IsHostConnected(e)) {
        HostBack();
        co_return;
    }
    if (!outage) {
        BeginOutage(fmt::format("Host {} not reached ({}); trying again", e.View().hostName,
                                HostReason("no answer")));
        outage->attempts = 1;
    }
    // At once, then after 1, 2, 4 ... s, at most the longest pause.
    outage->next = KeeperClock::now() + outage->pause;
    outage->pause = std::min(outage->pause * 2, options.longestPause);
    Tell();
}

void Unattended::Impl::BeginOutage(const std::string& line) {
    Log(line);
    const KeeperClock::time_point now = KeeperClock::now();
    outage = Outage{now, 0, e.nInputWithoutHost, options.firstPause, now};
    Tell();
}

void Unattended::Impl::HostBack() {
    hostWasUp = true;
    if (outage) {
        const std::int64_t dropped = e.nInputWithoutHost - outage->droppedBefore;
        std::string line = fmt::format("Host link to {} back after {}, {} attempt{}", HostName(),
                                       DurationText(KeeperClock::now() - outage->since),
                                       outage->attempts, outage->attempts == 1 ? "" : "s");
        if (dropped > 0)
            line += fmt::format("; {} bytes of terminal input dropped meanwhile", dropped);
        Log(line);
        outage.reset();
    }
    Tell();
}

asio::awaitable<void> Unattended::Impl::KeepHost() {
    for (;;) {
        if (Done() || !IsTerminalPortOpen(e) || pendingLoad || mode != Mode::Relay) co_return;
        if (IsHostConnected(e)) {
            hostWasUp = true;
            // A drop is told once, by the keeper's line with the component's reason.
            e.MuteHostStatus = true;
            co_await e.Changed.Wait();
            e.MuteHostStatus = false;
            continue;
        }
        if (hostWasUp) {
            hostWasUp = false;
            if (e.View().milestone != "D") {
                // Closed on this side (the terminal's Clear To Send line changed): the
                // terminal starts afresh, so wait for its load request or its first key.
                mode = Mode::AwaitLoad;
                Tell();
                co_return;
            }
            BeginOutage(
                fmt::format("Host link to {} lost ({})", e.View().hostName, HostReason("closed")));
            // What a close would show; the login mode stays, so the next connection
            // replays its key.
            e.Show().milestone = "A";
            e.Show().lampSSL = LampDown;
            co_await ConnectHost(false);
            continue;
        }
        // Between attempts: the pause, cut short by whatever the main loop must see.
        if (outage && KeeperClock::now() < outage->next) {
            co_await e.Changed.WaitFor(outage->next - KeeperClock::now());
            continue;
        }
        co_await ConnectHost(false);
    }
}

// ---- the keeper as its owner sees it ----

Unattended::Unattended(Engine& e, UnattendedOptions options)
    : impl_(std::make_shared<Impl>(e, options)) {
    e.AddListener(impl_.get());
}

Unattended::~Unattended() {
    Stop();
    impl_->e.RemoveListener(impl_.get());
    impl_->changed = nullptr;
}

void Unattended::Begin(std::function<void(bool refused)> started) {
    Impl& k = *impl_;
    Engine& e = k.e;
    e.HoldHostOutput = true;
    // A load request read while relaying goes to the loader, not to the host as keys.
    e.QuietInput = [&e, weak = std::weak_ptr<Impl>(impl_)](const std::string& input) {
        const std::shared_ptr<Impl> self = weak.lock();
        if (!self || self->Done() || self->mode != Impl::Mode::Relay || e.bLoadingResident) return;
        const std::optional<int> request = LoadFileRequestOf(input);
        if (!request) return;
        if (e.sToHost.ends_with(input)) e.sToHost.resize(e.sToHost.size() - input.size());
        self->pendingLoad = *request;
        e.Changed.Notify();
    };
    e.Spawn([self = impl_, started = std::move(started)]() -> asio::awaitable<void> {
        co_await self->Main(started);
    });
}

void Unattended::Stop() {
    Impl& k = *impl_;
    if (k.stopping) return;
    k.stopping = true;
    k.watch.Stop();
    Engine& e = k.e;
    e.QuietInput = nullptr;
    e.MuteHostStatus = false;
    // What was held goes back to the pump, so the stop's close of the host can read its end.
    e.HoldHostOutput = false;
    e.SSL.setAcceptData(true);
    WakePump(e);
    e.Changed.Notify();
}

UnattendedState Unattended::State() const { return impl_->State(); }

std::string Unattended::StatusText() const {
    using Port = UnattendedState::Port;
    using Host = UnattendedState::Host;
    const UnattendedState s = impl_->State();
    std::string text = "terminal " + s.portName;
    text += s.port == Port::Open      ? " open"
            : s.port == Port::Waiting ? " waiting for its device"
                                      : " closed";
    text += s.host == Host::Up           ? ", host up"
            : s.host == Host::Connecting ? ", host connecting"
            : s.host == Host::Down       ? ", host down"
            // The outage is told before its first attempt has failed.
            : s.attempts == 0 ? ", host reconnecting"
                              : fmt::format(", host reconnecting ({} attempt{})", s.attempts,
                                            s.attempts == 1 ? "" : "s");
    if (!s.milestone.empty()) text += ", milestone " + s.milestone;
    text += fmt::format(", {} load{} served, {} bytes to host, {} to terminal", s.loadsServed,
                        s.loadsServed == 1 ? "" : "s", s.bytesToHost, s.bytesToTerminal);
    return text;
}

void Unattended::OnChange(std::function<void()> changed) { impl_->changed = std::move(changed); }

}  // namespace corvane
