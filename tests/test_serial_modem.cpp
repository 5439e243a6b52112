// The modem lines' watch: no thread and no timer for a pty, a test's reader looked at ten times
// a second at most, and the wait's thread woken out of a blocking call and joined on stop.
#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "links/serial_port_internal.h"
#include "tests/serial_fixture.h"
#include "tests/test_helpers.h"

namespace corvane::testing {
namespace {

using Clock = std::chrono::steady_clock;
using serial::ModemWait;

int ThreadCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

// A joined thread may still be listed for a moment while the kernel finishes its exit.
bool ThreadCountBecomes(int n, int timeoutMs = 1000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ThreadCount() != n) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---- The port on a pty ----

TEST_F(SerialPortTest, APtyHasNoModemWatchAtAll) {
    const int threads = ThreadCount();
    port_.setRThreshold(1);  // as the engine opens it: input wakes the pump
    openAsTheProgramDoes();
    ASSERT_TRUE(port_.PortOpen());
    // Only the armed read wait: in half a second not one handler runs, and no thread starts.
    EXPECT_EQ(io_.run_for(std::chrono::milliseconds(500)), 0u);
    EXPECT_TRUE(ThreadCountBecomes(threads));
    port_.setPortOpen(false);
    EXPECT_TRUE(ThreadCountBecomes(threads));
}

TEST_F(SerialPortTest, AnInjectedReaderIsLookedAtTenTimesASecondAtMost) {
    const int threads = ThreadCount();
    auto calls = std::make_shared<std::atomic<int>>(0);
    port_.setModemLineReader([calls](int) {
        ++*calls;
        return TIOCM_CTS | TIOCM_DSR;
    });
    openAsTheProgramDoes();
    // A fake reader cannot wake a real wait: it keeps the timer, and no thread is started.
    EXPECT_TRUE(ThreadCountBecomes(threads));
    *calls = 0;
    const Clock::time_point start = Clock::now();
    runFor(1000);
    const double seconds = MsSince(start) / 1000.0;
    EXPECT_LE(*calls, 11 * seconds + 1) << *calls << " looks in " << seconds << " s";
    EXPECT_GE(*calls, 3) << "the lines are still looked at";
    EXPECT_TRUE(events_.empty());
}

TEST_F(SerialPortTest, ACloseEndsAtOnceAndLeavesNothingRunning) {
    const int threads = ThreadCount();
    port_.setModemLineReader([](int) { return TIOCM_CTS; });
    openAsTheProgramDoes();
    runFor(250);
    const Clock::time_point start = Clock::now();
    port_.setPortOpen(false);
    EXPECT_LT(MsSince(start), 500);
    io_.poll();  // the cancelled waits' handlers, which find the port closed
    EXPECT_EQ(io_.run_for(std::chrono::milliseconds(300)), 0u);
    EXPECT_TRUE(ThreadCountBecomes(threads));
    EXPECT_TRUE(events_.empty());
}

// ---- The wait's thread ----

// A wait that blocks in the kernel until a signal ends it, as TIOCMIWAIT does on a quiet line.
struct BlockedWait {
    BlockedWait() { EXPECT_EQ(::pipe(fds), 0); }
    ~BlockedWait() { ::close(fds[0]), ::close(fds[1]); }
    ModemWait::BlockingWait call() {
        return [fd = fds[0]](int) {
            char c;
            return ::read(fd, &c, 1) < 0 ? errno : 0;
        };
    }
    int fds[2];
};

class ModemWaitTest : public ::testing::Test {
  protected:
    asio::io_context io_;
    std::vector<std::pair<ModemWait::Outcome, int>> seen_;
    std::vector<std::thread::id> handledOn_;
    ModemWait::Handler record() {
        return [this](ModemWait::Outcome o, int error) {
            seen_.emplace_back(o, error);
            handledOn_.push_back(std::this_thread::get_id());
        };
    }
};

TEST_F(ModemWaitTest, StopWakesAWaitBlockedInTheKernelAndJoinsIt) {
    const int threads = ThreadCount();
    BlockedWait blocked;
    ModemWait wait(io_);
    // Again and again, also at once after the start: a wake-up that comes before the thread
    // blocks must not leave it blocked.
    for (int i = 0; i < 100; ++i) {
        wait.start(0, record(), blocked.call());
        ASSERT_TRUE(wait.running());
        if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Clock::time_point start = Clock::now();
        wait.stop();
        EXPECT_LT(MsSince(start), 1000);
        EXPECT_FALSE(wait.running());
        ASSERT_TRUE(ThreadCountBecomes(threads));
    }
    io_.poll();
    EXPECT_TRUE(seen_.empty());  // woken for the stop, not for a change
}

TEST_F(ModemWaitTest, EachChangeIsHandledOnTheIoContextsThread) {
    BlockedWait blocked;
    auto changes = std::make_shared<std::atomic<int>>(2);
    ModemWait wait(io_);
    wait.start(0, record(), [changes, block = blocked.call()](int fd) {
        return --*changes >= 0 ? 0 : block(fd);
    });
    ASSERT_TRUE(rig::RunUntil(
        io_, [&] { return seen_.size() >= 2; }, 2000));
    rig::RunFor(io_, 100);
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[0].first, ModemWait::Outcome::Changed);
    EXPECT_EQ(handledOn_[0], std::this_thread::get_id());
    EXPECT_EQ(handledOn_[1], std::this_thread::get_id());
    wait.stop();
}

TEST_F(ModemWaitTest, ALostDeviceIsReportedOnceAndEndsTheThread) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    ModemWait wait(io_);
    wait.start(0, record(), [calls](int) {
        ++*calls;
        return EIO;
    });
    ASSERT_TRUE(rig::RunUntil(
        io_, [&] { return !seen_.empty(); }, 2000));
    rig::RunFor(io_, 100);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].first, ModemWait::Outcome::Lost);
    EXPECT_EQ(seen_[0].second, EIO);
    EXPECT_EQ(*calls, 1);  // the thread ended by itself
    wait.stop();
}

TEST_F(ModemWaitTest, ADriverWithoutTheWaitIsRefusedAtOnce) {
    // A pty has no modem lines: the kernel refuses TIOCMIWAIT on it.
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ModemWait wait(io_);
    wait.start(slave, record());  // the real wait
    ASSERT_TRUE(rig::RunUntil(
        io_, [&] { return !seen_.empty(); }, 2000));
    EXPECT_EQ(seen_[0].first, ModemWait::Outcome::Refused);
    EXPECT_TRUE(seen_[0].second == ENOTTY || seen_[0].second == EINVAL) << seen_[0].second;
    wait.stop();
    ::close(master), ::close(slave);
}

TEST_F(ModemWaitTest, AWaitThatNeverBlocksIsGivenUp) {
    ModemWait wait(io_);
    wait.start(0, record(), [](int) { return 0; });
    ASSERT_TRUE(rig::RunUntil(
        io_, [&] { return !seen_.empty() && seen_.back().first == ModemWait::Outcome::Refused; },
        3000));
    rig::RunFor(io_, 100);
    // A bounded number of changes first, then the timer takes over; nothing spins.
    EXPECT_LE(seen_.size(), 52u);
    EXPECT_EQ(seen_.back().first, ModemWait::Outcome::Refused);
    wait.stop();
}

TEST_F(ModemWaitTest, ReturnsNotYetHandledAreDroppedByStop) {
    BlockedWait blocked;
    auto once = std::make_shared<std::atomic<bool>>(true);
    ModemWait wait(io_);
    wait.start(0, record(), [once, block = blocked.call()](int fd) {
        return once->exchange(false) ? 0 : block(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the change is queued
    wait.stop();
    io_.poll();
    EXPECT_TRUE(seen_.empty());
}

}  // namespace
}  // namespace corvane::testing
