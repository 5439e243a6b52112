// The keeper's state and routines, shared by its two source files: the host and the loads
// (unattended.cpp), the terminal port and its device (unattended_port.cpp).
#pragma once

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "links/engine.h"
#include "links/unattended.h"

namespace corvane {

using KeeperClock = std::chrono::steady_clock;

// The device a port entry opens now ("" when the entry names none), and every path whose
// appearance or change may make it openable: a numbered port's ports/comN link as well as
// where the number leads.
std::string DeviceOfEntry(const std::string& programDir, const std::string& entry);
std::vector<std::string> WatchedPathsOfEntry(const std::string& programDir,
                                             const std::string& entry);
// True when nothing is at the path (a link whose target is gone counts as nothing).
bool DeviceMissing(const std::string& path);
// How the log names the entry's port: its device path, or "comN".
std::string PortNameOfEntry(const std::string& entry);

// Tells when something changes at the paths given, the folders they live in or, for links,
// where they lead: on Linux an inotify descriptor read on the io_context. Where the platform
// gives no such watch (Windows), Watch returns false and the keeper looks once a second.
// Nothing wakes while unarmed.
class PathWatch {
  public:
    PathWatch(asio::io_context& io, std::function<void()> changed);
    ~PathWatch();
    PathWatch(const PathWatch&) = delete;
    PathWatch& operator=(const PathWatch&) = delete;
    // Replaces what was watched; false when nothing could be watched (the caller then looks
    // on a timer).
    bool Watch(const std::vector<std::string>& paths);
    void Stop();

  private:
    struct Inner;
    asio::io_context& io_;
    std::function<void()> changed_;
    std::shared_ptr<Inner> inner_;
};

struct Unattended::Impl final : EngineListener, std::enable_shared_from_this<Impl> {
    Impl(Engine& engine, UnattendedOptions o);

    // What the keeper does with a terminal whose port is open.
    enum class Mode {
        AwaitLoad,  // waits for a load request, or a first key that says the terminal is loaded
        Relay,      // the host is wanted: kept up, or reached again
    };
    struct Outage {
        KeeperClock::time_point since;
        int attempts = 0;
        std::int64_t droppedBefore = 0;     // the engine's count of input dropped, at the start
        std::chrono::milliseconds pause{};  // before the attempt after the next failure
        KeeperClock::time_point next;       // when the next attempt is due
    };

    Engine& e;
    UnattendedOptions options;
    bool stopping = false;
    Mode mode = Mode::AwaitLoad;
    bool everOpened = false;         // the port has been open once in this run
    bool hostWasUp = false;          // the wanted link was up when last seen
    bool connecting = false;         // an attempt is under way
    std::string keptLoginMode;       // the login mode while the port is away with the host kept
    std::optional<int> pendingLoad;  // a request read while relaying, not yet served
    std::optional<Outage> outage;
    UnattendedState::Port port = UnattendedState::Port::Closed;
    int loadsServed = 0;
    std::string lastMilestone;
    std::function<void()> changed;
    UnattendedState told;
    PathWatch watch;

    bool Done() const { return stopping || e.bUnloaded; }
    UnattendedState State() const;
    // Runs `changed` when the state (bytes aside) differs from what it last told.
    void Tell();
    void Log(const std::string& text);
    // The system's name and address, as the log names the host.
    std::string HostName() const;
    // The host socket's last word on its link, or `otherwise`.
    std::string HostReason(const std::string& otherwise) const;

    void ViewChanged(const EngineView& view) override;
    void LinksChanged() override { Tell(); }

    asio::awaitable<void> Main(std::function<void(bool refused)> started);
    // The start: opens the port, or finds its device missing (then the main loop waits for
    // it); false when the device is there and cannot be opened.
    asio::awaitable<bool> StartPort();
    // The port is closed: waits for its device and opens it again, keeping the host for the
    // grace time.
    asio::awaitable<void> PortAway();
    // After the port opened again: the host link and the view as they were.
    void PortBack(KeeperClock::time_point since, bool hostKept);
    asio::awaitable<void> CloseHostAfterGrace();
    asio::awaitable<void> AwaitLoad();
    asio::awaitable<void> ServeLoad(int request);
    asio::awaitable<void> KeepHost();
    // One attempt to reach the host: WakeupHost's (after a load) or OpenHost's.
    asio::awaitable<void> ConnectHost(bool afterLoad);
    void BeginOutage(const std::string& line);
    void HostBack();
};

}  // namespace corvane
