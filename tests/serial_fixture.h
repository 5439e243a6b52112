// Shared by the serial port tests: a temporary program folder, a real pty terminal behind
// ports/comN, and a port opened on it the way the program opens its terminal's line.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <asio/io_context.hpp>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "links/serial_port.h"
#include "rig/pty_terminal.h"
#include "rig/temp_dir.h"
#include "rig/wait.h"
#include "tests/test_helpers.h"

namespace corvane::testing {

using rig::TempDir;
// A pattern in which a lost, doubled or swapped block shows.
inline std::string Pattern(int size) {
    std::string out(size, '\0');
    for (int i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return out;
}

inline std::int64_t ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Everything the port receives until n characters have come, at most timeoutMs.
inline std::string ReadAll(asio::io_context& io, SerialPort& port, int n, int timeoutMs) {
    std::string got;
    rig::RunUntil(
        io,
        [&] {
            if (port.InBufferCount() > 0) got += port.Input();
            return got.size() >= static_cast<std::size_t>(n);
        },
        timeoutMs);
    return got;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        term_ = std::make_unique<rig::PtyTerminal>(io_, dir_.path(), 3);
        port_.setProgramDir(dir_.path());
        port_.setCommPort(3);
        port_.OnComm = [this] { events_.push_back(port_.CommEvent()); };
    }

    void openAsTheProgramDoes(const std::string& settings = "2400,e,7,1") {
        port_.setSettings(settings);
        port_.setHandshaking(0);
        port_.setDTREnable(true);
        port_.setRTSEnable(true);
        port_.setPortOpen(true);
    }

    std::string readAll(int n, int timeoutMs = 3000) { return ReadAll(io_, port_, n, timeoutMs); }
    void runFor(int ms) { rig::RunFor(io_, ms); }

    asio::io_context io_;  // first: outlives everything that waits on it
    TempDir dir_;
    std::unique_ptr<rig::PtyTerminal> term_;
    SerialPort port_{io_};
    std::vector<int> events_;  // CommEvent at each OnComm, in order
};

}  // namespace corvane::testing
