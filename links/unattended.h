// The unattended bridge: a keeper attached to an engine that keeps the terminal in service with
// no hand on it. It opens the terminal port or waits for its device, serves the terminal's load
// whenever it asks, connects the host at a loaded terminal's first key, reconnects a host that
// went away, and holds the host for a while when the terminal's device goes away.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane {

class Engine;

struct UnattendedOptions {
    // How long the host connection is kept while the terminal's device is away.
    std::chrono::milliseconds grace{60'000};
    // The pause before the second attempt to reach the host; each later pause doubles, up to
    // longestPause. The first attempt goes at once.
    std::chrono::milliseconds firstPause{1'000};
    std::chrono::milliseconds longestPause{60'000};
    // Where the device's folder cannot be watched: the look for it while it is absent.
    std::chrono::milliseconds absentLook{1'000};
};

// What the keeper reports, as a service manager's status shows it.
struct UnattendedState {
    enum class Port { Closed, Waiting, Open };
    enum class Host { Down, Connecting, Up, Reconnecting };
    Port port = Port::Closed;
    Host host = Host::Down;
    std::string portName;  // "com1" or the device path
    std::string milestone;
    int loadsServed = 0;
    int attempts = 0;              // attempts of the outage under way
    std::int64_t bytesToHost = 0;  // relayed each way so far
    std::int64_t bytesToTerminal = 0;
    bool operator==(const UnattendedState&) const = default;
};

class Unattended {
  public:
    // Attaches to the engine, which must outlive every routine of the keeper (the engine's
    // end waits for them). Nothing runs before Begin.
    Unattended(Engine& e, UnattendedOptions options = {});
    // Detaches; a routine of the keeper still waiting ends at its next look.
    ~Unattended();
    Unattended(const Unattended&) = delete;
    Unattended& operator=(const Unattended&) = delete;

    // Starts keeping, with the engine's choices as they are. `started` runs once the port is
    // open or being waited for (refused false), or when the port exists and cannot be opened
    // (refused true: the keeper has given up, as a start that cannot open its port).
    void Begin(std::function<void(bool refused)> started = nullptr);
    // Stops keeping at once: nothing more is opened, held or reconnected, and the engine's
    // stop can follow. Safe to call more than once.
    void Stop();

    UnattendedState State() const;
    // One line for a service manager: the port, the host link, the milestone, the loads
    // served and the bytes each way.
    std::string StatusText() const;
    // Runs whenever the port, the host link, the milestone or the loads served change; not
    // for bytes alone.
    void OnChange(std::function<void()> changed);

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

// How long something lasted, for the log: "45 s", "3 min 5 s", "2 h 10 min".
std::string DurationText(std::chrono::steady_clock::duration d);

}  // namespace corvane
