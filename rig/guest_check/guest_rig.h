// The guest side of the real-driver stage: the terminal's end of a serial pair, a look at the
// bridge's own device from beside it, the bridge as a child between its device and a host on
// the loopback, and the PASS/FAIL report.
#pragma once

#include <sys/types.h>

#include <array>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rig/child_process.h"
#include "rig/loopback_host.h"

namespace corvane::rig::guest {

// The 16550's transmit FIFO: characters a UART still sends after its driver's queue is gone.
constexpr int kUartFifo = 16;
// Characters between the bridge's UART and the terminal that no real line has: what the
// emulator's socket holds (its send buffer at the minimum: 6 at most, as the relay reports)
// and the relay's one on the line. The emulation reports its transmitter empty once they are
// in the socket.
constexpr int kRigInFlight = 8;

// Milliseconds on one clock for every figure of a run.
double NowMs();

// Prints a figure line at once (the console is the only way out of the guest).
void Say(const std::string& line);
// Prints "PASS name" or "FAIL name: why" and counts failures.
bool Check(bool ok, const std::string& name, const std::string& why = {});
int Failures();

// The terminal's end of a pair: raw, no modem control, every byte kept with its arrival time.
class TtyEnd {
  public:
    TtyEnd(asio::io_context& io, const std::string& path);
    ~TtyEnd();
    TtyEnd(const TtyEnd&) = delete;
    TtyEnd& operator=(const TtyEnd&) = delete;

    // Writes all of it, waiting (running io) up to 5 s; false when the line did not take it.
    bool send(const std::string& bytes);
    const std::string& received() const { return received_; }
    const std::vector<double>& arrivals() const { return arrivals_; }
    void clear();
    // Runs io until n bytes have come since the last clear, at most timeoutMs.
    bool waitForBytes(std::size_t n, int timeoutMs);
    // Runs io until nothing has come for quietMs, at most timeoutMs.
    void waitForQuiet(int quietMs, int timeoutMs);

  private:
    void arm();
    asio::io_context& io_;
    asio::posix::stream_descriptor fd_;
    std::string received_;
    std::vector<double> arrivals_;
    std::array<char, 4096> buffer_{};
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A second descriptor on the bridge's device, looked at every few milliseconds: what its
// output queue holds (the most seen) and when its line settings change.
class DeviceLook {
  public:
    DeviceLook(asio::io_context& io, const std::string& path, int everyMs = 2);
    ~DeviceLook();
    DeviceLook(const DeviceLook&) = delete;
    DeviceLook& operator=(const DeviceLook&) = delete;

    int maxOutQueue() const { return maxOutQueue_; }
    void resetMax() { maxOutQueue_ = 0; }
    // "2400,e,7,1" and the like, as the device holds them now.
    std::string settings() const;
    // The first look that saw new settings: when, and what the device still held to send.
    struct Change {
        double at = 0;
        std::string settings;
        int outQueue = -1;              // its driver's queue
        bool transmitterEmpty = false;  // the UART's own FIFO and shift register too
    };
    // The last change to `text`; empty when there was none since the look began.
    std::optional<Change> became(const std::string& text) const;

  private:
    void look();
    asio::steady_timer timer_;
    int fd_ = -1;
    int everyMs_;
    int maxOutQueue_ = 0;
    std::string last_;
    std::vector<Change> changes_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// corvane-headless between a device and a LoopbackHost on 127.0.0.1.
class Bridge {
  public:
    Bridge(asio::io_context& io, const std::string& binary, const std::string& device,
           const std::string& programDir, const std::vector<std::string>& extra);
    // Runs io until the host has its connection and the two carriage returns, at most
    // timeoutMs.
    bool waitUp(int timeoutMs);
    LoopbackHost& host() { return host_; }
    ChildProcess& process() { return *process_; }
    pid_t pid() const { return process_->pid(); }
    // Both output streams, for a report.
    std::string log() const { return process_->out() + process_->err(); }
    // Ends it as a service manager would (SIGTERM), at most 5 s; its exit status or -1.
    int stop();

  private:
    asio::io_context& io_;
    LoopbackHost host_;
    std::unique_ptr<ChildProcess> process_;
};

// Voluntary and involuntary context switches of all of a process's threads so far.
std::int64_t ContextSwitches(pid_t pid);
// True while the process holds a descriptor whose target starts with `path`.
bool HoldsDescriptor(pid_t pid, const std::string& path);

// n characters of printable 7-bit text: no flush key, no host escape among them.
std::string Pattern(std::size_t n);
// base/name, made when missing.
std::string MakeDir(const std::string& base, const std::string& name);
// Bridge::waitUp with room for a start in the emulation; a FAIL line and the bridge's log
// when it does not come up.
bool WaitUp(Bridge& b, const std::string& what);

// Prints each line of text with a prefix, for a bridge's log in the report.
void SayLog(const std::string& prefix, const std::string& text);

}  // namespace corvane::rig::guest
