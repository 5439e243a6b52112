// A fresh engine between a real pty (the terminal) and a real loopback host, all on the
// test's own io_context, for the tests that drive the bridge end to end.
#pragma once

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "links/engine.h"
#include "links/host_connection.h"
#include "links/lamps.h"
#include "links/serial_port.h"
#include "links/terminal_port.h"
#include "relay/pump.h"
#include "rig/engine_bridge.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/temp_dir.h"
#include "rig/wait.h"
#include "tests/test_helpers.h"

namespace corvane::testing {

// Bytes of every value in a fixed order, as a terminal might send them.
inline std::string TerminalPattern(std::size_t size) {
    std::string b(size, '\0');
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 17 + i / 256) & 0xFF);
    return b;
}

// What follows a resident load on the line: two 0xAF, then 253 zeros.
inline std::string Trailer() {
    std::string trailer("\xAF\xAF", 2);
    trailer.append(253, '\0');  // appended: g++ 12 misreads an operator+ of two temporaries
    return trailer;
}

using rig::ChooseHost;
class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        e = std::make_unique<Engine>(io, dir.path());
        e->NowSeconds = [this] { return clock; };
        e->AddListener(&recorder);
        terminal = std::make_unique<rig::PtyTerminal>(io, dir.path(), 1);
        host = std::make_unique<rig::LoopbackHost>(io);
        ASSERT_TRUE(host->listening());
        ChooseHost(*e, "Ludric", host->port());
    }

    void TearDown() override {
        if (e) e->RemoveListener(&recorder);
        e.reset();
        terminal.reset();
        host.reset();
    }

    // Runs the io_context until cond() holds, at most ms; true when it did.
    bool Run(const std::function<bool()>& cond, int ms = 5000) {
        return rig::RunUntil(io, cond, ms);
    }
    // Runs a routine of the engine's to its end (bounded), as an operator's click would.
    bool Await(const std::function<void(std::function<void()>)>& start, int ms = 35000) {
        bool done = false;
        start([&done] { done = true; });
        return Run([&done] { return done; }, ms);
    }
    void Start() {
        ASSERT_TRUE(Await([this](auto done) { e->Start(done); }));
    }
    void Stop() {
        ASSERT_TRUE(Await([this](auto done) { e->Stop(done); }));
    }

    // Both links opened by double-clicks on their lamps, as the operator does.
    void OpenBothByLamps() {
        e->LampDoubleClick(false);
        ASSERT_TRUE(Run([this] { return IsTerminalPortOpen(*e); })) << recorder.joined();
        e->LampDoubleClick(true);
        ASSERT_TRUE(Run([this] { return e->View().lampSSL == LampUp; }));
        ASSERT_TRUE(IsHostConnected(*e));
        ASSERT_TRUE(host->waitForConnection(5000));
    }

    // The pump ticked by hand, so a test sees each tick; the links stay real.
    void PausePump() {
        e->PumpWakes = false;
        StopPumpTimer(*e);
    }
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) sTimer_Timer(*e);
    }
    // The terminal reads at the pace of a real line, and the engine sees the pty's backlog
    // as the device's output queue (the reader returned).
    SerialPort::OutputQueueReader TerminalReadsAt(int baud) {
        return rig::ReadAtLineRate(*e, *terminal, baud);
    }

    // Lets bytes written on one side reach the other side's buffers without a tick.
    void Settle(int ms = 30) { rig::RunFor(io, ms); }

    const std::vector<std::string>& messages() const { return recorder.messages; }

    asio::io_context io;
    rig::TempDir dir;
    std::int64_t clock = 1'000'000;
    rig::MessageRecorder recorder;
    std::unique_ptr<Engine> e;
    std::unique_ptr<rig::PtyTerminal> terminal;
    std::unique_ptr<rig::LoopbackHost> host;
};

}  // namespace corvane::testing
