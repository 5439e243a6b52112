// corvane-headless keeping its terminal in service, as the unit runs it: what it tells a
// service manager listening on a notify socket of the test's own, how it ends on SIGTERM in
// every state, and that it sleeps while it waits.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "rig/child_process.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/sample_load_file.h"
#include "rig/temp_dir.h"
#include "rig/wait.h"
#include "tests/test_helpers.h"

using namespace corvane::rig;
using namespace corvane::testing;

namespace {

using Clock = std::chrono::steady_clock;
// The voluntary context switches of a process's main thread: each is one sleep ended.
long Wakeups(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
    }
    return -1;
}

// A service manager's notify socket: every datagram the program sends, with its time.
class NotifySocket {
  public:
    NotifySocket(asio::io_context& io, const std::string& path)
        : socket_(io, asio::local::datagram_protocol::endpoint(path)), start_(Clock::now()) {
        Receive();
    }
    struct Notice {
        std::int64_t ms;
        std::string text;
    };
    const std::vector<Notice>& notices() const { return notices_; }
    std::vector<Notice> with(const std::string& part, std::int64_t fromMs = 0) const {
        std::vector<Notice> found;
        for (const Notice& n : notices_)
            if (n.ms >= fromMs && Contains(n.text, part)) found.push_back(n);
        return found;
    }
    std::int64_t nowMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    }

  private:
    void Receive() {
        socket_.async_receive(asio::buffer(buffer_),
                              [this](const asio::error_code& ec, std::size_t n) {
                                  if (ec) return;
                                  notices_.push_back({nowMs(), std::string(buffer_, n)});
                                  Receive();
                              });
    }
    asio::local::datagram_protocol::socket socket_;
    Clock::time_point start_;
    char buffer_[4096];
    std::vector<Notice> notices_;
};

class KeptRun : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(host->listening()); }

    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& extra,
                                        const std::vector<std::string>& env = {}) {
        std::vector<std::string> args = {"--host", "127.0.0.1:" + std::to_string(hostPort),
                                         "--program-dir", dir.path()};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<std::string> environment =
            ChildProcess::Environment({"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"});
        environment.insert(environment.end(), env.begin(), env.end());
        return std::make_unique<ChildProcess>(io, CORVANE_HEADLESS_BINARY, args, environment);
    }
    void ExpectTermEndsWithZero(ChildProcess& run) {
        run.signal(SIGTERM);
        ASSERT_TRUE(run.waitForExit(10000));
        EXPECT_EQ(run.termSignal(), 0);
        EXPECT_EQ(run.exitCode(), 0) << run.err();
    }

    asio::io_context io;
    TempDir dir;
    PtyTerminal terminal{io, dir.path(), 1};
    std::unique_ptr<LoopbackHost> host = std::make_unique<LoopbackHost>(io);
    std::uint16_t hostPort = host->port();
};

}  // namespace

TEST_F(KeptRun, TellsReadyPingsTheWatchdogAndSaysItsStatusOnlyWhenItChanges) {
    const std::string late = dir.path() + "/tty-late";
    NotifySocket manager(io, dir.path() + "/notify");
    auto run = Start({"--port", late},
                     {"NOTIFY_SOCKET=" + dir.path() + "/notify", "WATCHDOG_USEC=400000"});

    // Ready while it waits for its device.
    ASSERT_TRUE(RunUntil(
        io, [&] { return !manager.with("READY=1").empty(); }, 10000))
        << run->err();
    EXPECT_TRUE(Contains(manager.with("READY=1")[0].text,
                         "STATUS=terminal " + late + " waiting for its device, host down"))
        << manager.with("READY=1")[0].text;

    // Quiet: pings at half the interval, and nothing else.
    const std::int64_t quietFrom = manager.with("READY=1")[0].ms + 1;
    RunFor(io, 1500);
    const auto pings = manager.with("WATCHDOG=1", quietFrom);
    ASSERT_GE(pings.size(), 5u);
    ASSERT_LE(pings.size(), 9u);
    const double interval = static_cast<double>(pings.back().ms - pings.front().ms) /
                            static_cast<double>(pings.size() - 1);
    EXPECT_GT(interval, 150);
    EXPECT_LT(interval, 300);
    EXPECT_TRUE(manager.with("STATUS=", quietFrom).empty());

    // The device appears, then the terminal's first key connects the host: a status line
    // for each change.
    const std::int64_t changesFrom = manager.nowMs();
    ASSERT_EQ(::symlink(terminal.slavePath().c_str(), late.c_str()), 0);
    ASSERT_TRUE(RunUntil(
        io, [&] { return !manager.with(" open, host down", changesFrom).empty(); }, 5000));
    terminal.send("\r");
    ASSERT_TRUE(host->waitForBytes(1, 10000)) << run->out();
    EXPECT_EQ(host->takeReceived(), "\r");
    ASSERT_TRUE(RunUntil(
        io, [&] { return !manager.with(" open, host up, milestone D", changesFrom).empty(); },
        5000));
    const auto statuses = manager.with("STATUS=", changesFrom);
    for (std::size_t i = 1; i < statuses.size(); ++i)
        EXPECT_NE(statuses[i].text, statuses[i - 1].text);  // only when something changed

    ExpectTermEndsWithZero(*run);
    EXPECT_FALSE(manager.with("STOPPING=1").empty());
}

TEST_F(KeptRun, SigtermEndsEveryStateWithStatusZero) {
    {
        // Waiting for a device that is not there.
        auto run = Start({"--port", dir.path() + "/nothing-here"});
        ASSERT_TRUE(RunUntil(
            io, [&] { return Contains(run->out(), "waiting for its device"); }, 10000))
            << run->err();
        ExpectTermEndsWithZero(*run);
    }
    {
        // Relaying; the stop closes the port and then the host, which sees the close.
        auto run = Start({"--port", terminal.linkPath(), "--resident-loaded"});
        ASSERT_TRUE(host->waitForBytes(2, 10000)) << run->err();
        EXPECT_EQ(host->takeReceived(), "\r\r");
        ExpectTermEndsWithZero(*run);
        EXPECT_TRUE(host->waitForDisconnect(5000));
        EXPECT_TRUE(Contains(run->out(), "Disconnected from 127.0.0.1")) << run->out();
    }
    {
        // In the middle of a load.
        ASSERT_TRUE(WriteSampleLoadFile(dir.path(), 7, 20000));
        auto run = Start({"--port", terminal.linkPath(), "--chunk-delay", "100"});
        RunFor(io, 300);
        terminal.send("L07x");
        ASSERT_TRUE(terminal.waitForBytes(256, 10000)) << run->err();
        ExpectTermEndsWithZero(*run);
        EXPECT_LT(terminal.takeReceived().size(), 20000u);
    }
    {
        // The host gone: the run stays up and tries again, until told to end.
        host.reset();
        auto run = Start({"--port", terminal.linkPath(), "--resident-loaded"});
        ASSERT_TRUE(RunUntil(
            io, [&] { return Contains(run->out(), "not reached"); }, 10000))
            << run->out() << run->err();
        RunFor(io, 1500);
        EXPECT_TRUE(run->running());
        ExpectTermEndsWithZero(*run);
    }
}

TEST_F(KeptRun, WaitingForAnAbsentDeviceItSleeps) {
    auto run = Start({"--port", dir.path() + "/tty-absent"});
    ASSERT_TRUE(RunUntil(
        io, [&] { return Contains(run->out(), "waiting for its device"); }, 10000));
    RunFor(io, 200);
    const long before = Wakeups(run->pid());
    RunFor(io, 2000);
    const long after = Wakeups(run->pid());
    ASSERT_GE(before, 0);
    EXPECT_LE(after - before, 2);  // no look on a timer
    ExpectTermEndsWithZero(*run);
}
