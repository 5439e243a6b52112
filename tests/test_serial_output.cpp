// The serial port component's traffic against a real pty: both directions, the output queue,
// settings changed once the queued output has left the line, and the loss of the device.
#include <asio/co_spawn.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <exception>
#include <functional>
#include <stdexcept>

#include "tests/serial_fixture.h"

using corvane::CommError;
using corvane::DevicePathForPort;
using corvane::SerialPort;
using corvane::rig::PtyTerminal;
using corvane::rig::RunUntil;
using namespace corvane::testing;

namespace {

// Runs SettingsAfterDrain on the io_context; done and error tell how it ended.
struct DrainRun {
    bool done = false;
    std::exception_ptr error;
    std::int64_t tookMs = 0;
};

std::shared_ptr<DrainRun> StartSettingsAfterDrain(asio::io_context& io, SerialPort& port,
                                                  const std::string& text) {
    auto run = std::make_shared<DrainRun>();
    const auto started = std::chrono::steady_clock::now();
    asio::co_spawn(io, port.SettingsAfterDrain(text), [run, started](std::exception_ptr e) {
        run->done = true;
        run->error = e;
        run->tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
    });
    return run;
}

}  // namespace

TEST_F(SerialPortTest, AllByteValuesPassBothWaysUnchanged) {
    openAsTheProgramDoes();
    const std::string all = AllByteValues();

    term_->send(all);
    ASSERT_TRUE(RunUntil(
        io_, [&] { return port_.InBufferCount() >= 256; }, 3000));
    EXPECT_EQ(port_.InBufferCount(), 256);
    EXPECT_EQ(port_.Input(), all);
    EXPECT_EQ(port_.InBufferCount(), 0);  // Input removed them
    EXPECT_EQ(port_.Input(), "");

    port_.Output(all);
    ASSERT_TRUE(term_->waitForBytes(256, 3000));
    EXPECT_EQ(term_->takeReceived(), all);
    ASSERT_EQ(term_->arrivals().size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(term_->arrivals()[i].second, static_cast<char>(i));
}

TEST_F(SerialPortTest, InputTakesMoreThanOneReadAndMoreThan16Bits) {
    openAsTheProgramDoes();
    const std::string data = Pattern(100000);
    // The terminal sends while the program reads: everything arrives once and in order.
    std::string got;
    std::size_t sent = 0;
    RunUntil(
        io_,
        [&] {
            if (sent < data.size()) {
                const std::size_t n = std::min<std::size_t>(3000, data.size() - sent);
                term_->send(data.substr(sent, n));
                sent += n;
            }
            if (port_.InBufferCount() > 0) got += port_.Input();
            return got.size() >= data.size();
        },
        20000);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST_F(SerialPortTest, LargeOutputArrivesWholeAndInOrder) {
    openAsTheProgramDoes();
    const std::string big = Pattern(1 << 20);
    const std::string tail("after the big block");
    port_.Output(big);
    EXPECT_GT(port_.OutBufferCount(), 0);  // the device did not take it at once: queued
    port_.Output(tail);                    // queued behind the rest
    EXPECT_GE(port_.OutBufferCount(), static_cast<int>(tail.size()));
    const std::size_t total = big.size() + tail.size();
    ASSERT_TRUE(term_->waitForBytes(static_cast<int>(total), 30000)) << term_->receivedCount();
    const std::string got = term_->takeReceived();
    ASSERT_EQ(got.size(), total);
    EXPECT_TRUE(got.substr(0, big.size()) == big);
    EXPECT_EQ(got.substr(big.size()), tail);
    EXPECT_EQ(port_.OutBufferCount(), 0);
    EXPECT_EQ(port_.CharactersWritten(), static_cast<std::int64_t>(total));
    // The arrival record has every byte, with times that never go back.
    ASSERT_EQ(term_->arrivals().size(), total);
    for (std::size_t i = 1; i < term_->arrivals().size(); ++i)
        ASSERT_LE(term_->arrivals()[i - 1].first, term_->arrivals()[i].first);
}

TEST_F(SerialPortTest, EmptyingTheOutputBufferDropsWhatWaitsAndOnlyZeroIsAllowed) {
    openAsTheProgramDoes();
    port_.Output(Pattern(1 << 20));
    ASSERT_GT(port_.OutBufferCount(), 0);
    EXPECT_THROW(port_.setOutBufferCount(5), CommError);
    EXPECT_GT(port_.OutBufferCount(), 0);
    port_.setOutBufferCount(0);
    EXPECT_EQ(port_.OutBufferCount(), 0);
    const std::int64_t written = port_.CharactersWritten();
    EXPECT_LT(written, 1 << 20);
    // The device's own queue went too: later output follows at most what had left already.
    port_.Output("after");
    std::string got;
    ASSERT_TRUE(RunUntil(
        io_,
        [&] {
            got += term_->takeReceived();
            return got.size() >= 5 && got.compare(got.size() - 5, 5, "after") == 0;
        },
        5000));
    runFor(50);
    got += term_->takeReceived();
    EXPECT_LE(static_cast<std::int64_t>(got.size()), written + 5);
    EXPECT_EQ(got.substr(got.size() - 5), "after");
    EXPECT_EQ(port_.CharactersWritten(), written + 5);
}

TEST_F(SerialPortTest, ClosingDropsTheQueueAndLaterOutputRaises) {
    openAsTheProgramDoes();
    port_.Output(Pattern(1 << 20));
    EXPECT_GT(port_.OutBufferCount(), 0);
    port_.setPortOpen(false);
    EXPECT_EQ(port_.OutBufferCount(), 0);
    EXPECT_THROW(port_.Output("x"), CommError);
    EXPECT_THROW(port_.Input(), CommError);
    EXPECT_EQ(port_.InBufferCount(), 0);
}

// ---- Settings after the queued output ----

TEST_F(SerialPortTest, ASettingsChangeLetsQueuedOutputLeaveFirstAndGivesUpAfterItsBound) {
    openAsTheProgramDoes("2400,o,8,1");
    term_->setLineRate(2400, 11);
    // What the terminal has not read yet stands for the device's queue.
    port_.setOutputQueueReader(
        [this](int) { return static_cast<int>(port_.CharactersWritten() - term_->readTotal()); });
    port_.Output(Pattern(300));
    std::int64_t readWhenChanged = -1;
    auto run = StartSettingsAfterDrain(io_, port_, "2400,e,7,1");
    // The old framing holds while the line sends.
    RunUntil(
        io_, [&] { return run->done; }, 300);
    EXPECT_FALSE(run->done);
    EXPECT_EQ(port_.Settings(), "2400,o,8,1");
    ASSERT_TRUE(RunUntil(
        io_,
        [&] {
            if (port_.Settings() == "2400,e,7,1" && readWhenChanged < 0)
                readWhenChanged = term_->readTotal();
            return run->done;
        },
        5000));
    EXPECT_FALSE(run->error);
    // Changed only once the line had sent all of it, at the old framing: 300 characters of
    // 11 bits at 2400 baud take 1375 ms.
    EXPECT_EQ(readWhenChanged, 300);
    EXPECT_GE(run->tookMs, 1300);
    EXPECT_EQ(term_->takeReceived(), Pattern(300));
    EXPECT_EQ(port_.Settings(), "2400,e,7,1");
    runFor(50);
    EXPECT_TRUE(events_.empty());

    // A device that never empties: the change comes after the queue's line time and a
    // second, once, with the event that says so.
    port_.setOutputQueueReader([](int) { return 50; });
    run = StartSettingsAfterDrain(io_, port_, "2400,o,8,1");
    ASSERT_TRUE(RunUntil(
        io_, [&] { return run->done; }, 5000));
    EXPECT_FALSE(run->error);
    EXPECT_GE(run->tookMs, 1200);  // 50 characters of 10 bits: 208 ms, and the second
    EXPECT_EQ(port_.Settings(), "2400,o,8,1");
    ASSERT_TRUE(RunUntil(
        io_, [&] { return !events_.empty(); }, 3000));  // after the change
    runFor(50);
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(port_.CommEvent(), corvane::comEventDrainTimeout);
    EXPECT_TRUE(port_.PortOpen());
}

TEST_F(SerialPortTest, SettingsAfterDrainEndsAtACloseAndRaisesForABadText) {
    openAsTheProgramDoes();
    port_.setOutputQueueReader([](int) { return 50; });
    // Nothing queued, or the same settings: no wait at all.
    auto run = StartSettingsAfterDrain(io_, port_, "2400,e,7,1");
    ASSERT_TRUE(RunUntil(
        io_, [&] { return run->done; }, 200));

    run = StartSettingsAfterDrain(io_, port_, "2400,o,8,1");
    RunUntil(
        io_, [&] { return run->done; }, 100);
    EXPECT_FALSE(run->done);
    port_.setPortOpen(false);
    ASSERT_TRUE(RunUntil(
        io_, [&] { return run->done; }, 1000));
    EXPECT_LT(run->tookMs, 1000);
    EXPECT_FALSE(run->error);
    EXPECT_EQ(port_.Settings(), "2400,o,8,1");  // remembered for the next open
    runFor(50);
    EXPECT_TRUE(events_.empty());  // closed: no one to tell

    run = StartSettingsAfterDrain(io_, port_, "2400,e,7,x");
    ASSERT_TRUE(RunUntil(
        io_, [&] { return run->done; }, 1000));
    ASSERT_TRUE(run->error);
    try {
        std::rethrow_exception(run->error);
    } catch (const CommError& e) {
        EXPECT_NE(std::string(e.what()).find("stop bits"), std::string::npos) << e.what();
    }
    EXPECT_EQ(port_.Settings(), "2400,o,8,1");
}

TEST(SerialPortDrain, APortDestroyedDuringTheWaitIsLeftAlone) {
    asio::io_context io;
    TempDir dir;
    PtyTerminal term(io, dir.path(), 1);
    auto port = std::make_unique<SerialPort>(io);
    port->setProgramDir(dir.path());
    port->setCommPort(1);
    port->setPortOpen(true);
    port->setOutputQueueReader([](int) { return 50; });
    auto run = StartSettingsAfterDrain(io, *port, "2400,e,7,1");
    RunUntil(
        io, [&] { return run->done; }, 50);
    port.reset();
    EXPECT_TRUE(RunUntil(
        io, [&] { return run->done; }, 3000));
    EXPECT_FALSE(run->error);
}

// ---- Hang-up ----

TEST_F(SerialPortTest, HangUpReportsOnceClosesAndStaysQuiet) {
    openAsTheProgramDoes();
    ::testing::internal::CaptureStderr();
    term_->hangUp();

    int ticks = 0;
    asio::steady_timer ticker(io_);
    std::function<void()> tick = [&] {
        ticker.expires_after(std::chrono::milliseconds(10));
        ticker.async_wait([&](const std::error_code& ec) {
            if (ec) return;
            ++ticks;
            tick();
        });
    };
    tick();
    const std::int64_t cpu0 = ThreadCpuMs();
    runFor(300);  // nobody polls the port: it finds the loss on its own
    const std::int64_t cpu = ThreadCpuMs() - cpu0;
    ticker.cancel();
    const std::string log = ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0], corvane::comEventPortLost);
    EXPECT_EQ(port_.CommEvent(), corvane::comEventPortLost);
    EXPECT_EQ(log, "");  // the engine's log line says it, once
    EXPECT_EQ(port_.LostReason(), "the device hung up");
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_EQ(port_.InBufferCount(), 0);
    EXPECT_THROW(port_.Input(), CommError);
    EXPECT_THROW(port_.Output("x"), CommError);
    runFor(100);
    EXPECT_EQ(events_.size(), 1u);  // still one
    // No spin: the loop slept and the ticker kept its pace.
    EXPECT_LT(cpu, 100) << "cpu ms " << cpu;
    EXPECT_GE(ticks, 15);
}

TEST_F(SerialPortTest, HangUpFoundByTheCallerIsDeliveredAfterTheCall) {
    port_.setDevicePath(term_->linkPath());
    openAsTheProgramDoes();
    ::testing::internal::CaptureStderr();
    term_->hangUp();
    EXPECT_EQ(port_.InBufferCount(), 0);  // finds the loss
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(port_.LostReason(), "the device hung up");
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_EQ(events_.size(), 0u);  // not inside the caller's operation
    EXPECT_EQ(port_.InBufferCount(), 0);
    EXPECT_THROW(port_.Input(), CommError);
    runFor(300);
    EXPECT_EQ(events_.size(), 1u);
    EXPECT_EQ(port_.CommEvent(), corvane::comEventPortLost);
}

TEST_F(SerialPortTest, HangUpFoundByOutputAndInput) {
    openAsTheProgramDoes();
    term_->hangUp();
    EXPECT_THROW(port_.Output("x"), CommError);
    EXPECT_FALSE(port_.PortOpen());
    runFor(300);
    EXPECT_EQ(events_.size(), 1u);
    // A fresh line, and the loss found by Input.
    term_.reset();
    term_ = std::make_unique<PtyTerminal>(io_, dir_.path(), 3);
    port_.setPortOpen(true);
    events_.clear();
    term_->hangUp();
    EXPECT_THROW(port_.Input(), CommError);
    EXPECT_FALSE(port_.PortOpen());
    runFor(300);
    EXPECT_EQ(events_.size(), 1u);
}

TEST_F(SerialPortTest, HangUpWithOutputQueuedReportsOnce) {
    openAsTheProgramDoes();
    port_.Output(Pattern(1 << 20));
    ASSERT_GT(port_.OutBufferCount(), 0);
    term_->hangUp();  // the write wait finds it
    const std::int64_t cpu0 = ThreadCpuMs();
    runFor(300);
    const std::int64_t cpu = ThreadCpuMs() - cpu0;
    EXPECT_EQ(events_.size(), 1u);
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_EQ(port_.OutBufferCount(), 0);
    EXPECT_LT(cpu, 100) << "cpu ms " << cpu;
}

// ---- The rig's terminal ----

TEST(PtyTerminalRig, OldTerminalLeavesANewerLinkAlone) {
    asio::io_context io;
    TempDir dir;
    auto first = std::make_unique<PtyTerminal>(io, dir.path(), 4);
    first->hangUp();
    auto second = std::make_unique<PtyTerminal>(io, dir.path(), 4);  // may reuse the pts number
    first.reset();
    EXPECT_EQ(std::filesystem::read_symlink(second->linkPath()).string(), second->slavePath());
    EXPECT_EQ(DevicePathForPort(dir.path(), 4), second->linkPath());
    second.reset();
    EXPECT_FALSE(std::filesystem::is_symlink(dir.filePath("ports/com4")));
}

TEST(PtyTerminalRig, RecordsArrivalTimes) {
    asio::io_context io;
    TempDir dir;
    PtyTerminal term(io, dir.path(), 1);
    SerialPort port(io);
    port.setProgramDir(dir.path());
    port.setCommPort(1);
    port.setPortOpen(true);
    port.Output("a");
    ASSERT_TRUE(term.waitForBytes(1, 2000));
    corvane::rig::RunFor(io, 60);
    port.Output("b");
    const std::string got = term.readFor(100);
    EXPECT_EQ(got, "ab");
    ASSERT_EQ(term.arrivals().size(), 2u);
    EXPECT_EQ(term.arrivals()[0].second, 'a');
    EXPECT_EQ(term.arrivals()[1].second, 'b');
    EXPECT_GE(term.arrivals()[1].first - term.arrivals()[0].first, 50);
    EXPECT_LE(term.arrivals()[1].first, term.elapsedMs());
    term.clearArrivals();
    EXPECT_TRUE(term.arrivals().empty());
    // Data the terminal sends before the program opens waits for it.
    port.setPortOpen(false);
    term.send("early");
    port.setPortOpen(true);
    EXPECT_EQ(ReadAll(io, port, 5, 2000), "early");
}

TEST(PtyTerminalRig, ReadsAtTheLineRateAndSendAfterHangUpThrows) {
    asio::io_context io;
    TempDir dir;
    PtyTerminal term(io, dir.path(), 1);
    SerialPort port(io);
    port.setProgramDir(dir.path());
    port.setCommPort(1);
    port.setPortOpen(true);
    term.setLineRate(2400);  // 240 characters a second
    port.Output(Pattern(120));
    corvane::rig::RunFor(io, 200);
    EXPECT_GT(term.unread(), 0);  // what the line has not sent yet waits in the pty
    ASSERT_TRUE(term.waitForBytes(120, 3000));
    // Half a second of line time, give or take a tick.
    const auto& a = term.arrivals();
    EXPECT_GE(a.back().first - a.front().first, 450);
    EXPECT_EQ(term.takeReceived(), Pattern(120));
    EXPECT_EQ(term.readTotal(), 120);
    term.hangUp();
    EXPECT_TRUE(term.isHungUp());
    EXPECT_THROW(term.send("x"), std::runtime_error);
}
