#include "resident/loader.h"

#include <fmt/format.h>

#include <algorithm>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "links/engine.h"
#include "links/terminal_port.h"
#include "logs/comm_log.h"
#include "relay/login_keys.h"
#include "relay/pump.h"

namespace corvane {

namespace {

constexpr int kChunkBytes = 256;

std::string HexDigits(long long value, int digits) {
    const long long mask = (1LL << (4 * digits)) - 1;
    return fmt::format("{:0{}X}", value & mask, digits);
}

// True while the load may go on: the operator has not stopped it, the engine is not
// unloading and the port is still there.
bool LoadGoesOn(Engine& e) { return e.bLoadingResident && !e.bUnloaded && IsTerminalPortOpen(e); }

// Holds the next `n` characters back until the line has room for them, by the same bound as
// the pump's output, so the status line never runs ahead of the line by more than that and a
// stop takes effect within it. While the line is full it sleeps until a whole slice fits; a
// stop, the unload or a lost port ends the wait at once. False when the load must end.
asio::awaitable<bool> WaitForLineRoom(Engine& e, int n) {
    for (;;) {
        if (!LoadGoesOn(e)) co_return false;
        const std::int64_t behind = LineBehind(e, n);
        if (behind == 0) co_return true;
        const std::int64_t untilSlice = behind + std::max(n, ToTerminalSlice) - n;
        const auto ms =
            static_cast<int>(std::clamp(std::ceil(e.Comm.LineMs(untilSlice)), 1.0, 60000.0));
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (LoadGoesOn(e) && std::chrono::steady_clock::now() < due)
            co_await e.Changed.WaitFor(due - std::chrono::steady_clock::now());
    }
}

// One write of the load; false when the port refused it (the device vanished).
bool Write(Engine& e, const std::string& bytes) {
    try {
        e.Comm.Output(bytes);
        return true;
    } catch (const CommError&) {
        return false;
    }
}

// Lets the other handlers run (a stop, the socket, the view) between two bytes of the load.
asio::awaitable<void> LetOthersRun(Engine& e) { co_await asio::post(e.io(), asio::use_awaitable); }

// The whole file, or the reason it cannot be had.
bool ReadFile(const std::string& path, std::string& bytes, std::string& problem) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        problem = std::strerror(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        bytes.append(buffer, n);
        if (n < sizeof buffer) break;
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        problem = std::strerror(error);
        return false;
    }
    if (bytes.empty()) {
        problem = "the file is empty";
        return false;
    }
    return true;
}

}  // namespace

std::string TwoDigits(int request) {
    const std::string digits = fmt::format("{:02}", std::abs(static_cast<long long>(request)));
    return request < 0 ? "-" + digits : digits;
}

std::string LoadFilePath(const std::string& programDir, int request) {
    const std::string name = "istlf" + TwoDigits(request) + ".dat";
    return !programDir.empty() && programDir.back() == '/' ? programDir + name
                                                           : programDir + "/" + name;
}

std::string LoaderStatus(int request, long long chunks, long long position) {
    return "LOADING FILE " + TwoDigits(request) + " BLOCK " + HexDigits(chunks / 2, 2) + " BYTE " +
           HexDigits(position, 4);
}

asio::awaitable<void> WaitForLoadFileRequest(Engine& e) {
    if (e.bUnloaded) co_return;
    if (!e.Choices().residentLoaded) {
        e.nLoadFileRequest = -1;
        // Each way out comes with a wake-up (the pump's tick that reads the request, the port
        // closing, the unload).
        while (!e.bUnloaded && IsTerminalPortOpen(e) && e.nLoadFileRequest == -1)
            co_await e.Changed.Wait();
        if (e.bUnloaded) co_return;
        if (IsTerminalPortOpen(e)) {
            e.Show().statusLine = "LOADING FILE " + TwoDigits(e.nLoadFileRequest);
            co_await loadresident(e);
            if (e.bUnloaded) co_return;
        }
    }
    co_await WakeupHost(e);
}

asio::awaitable<void> loadresident(Engine& e) {
    e.bLoadingResident = true;
    e.Show().chunkDelayEnabled = false;
    const int chunkDelay = e.Choices().chunkDelay;
    const int request = e.nLoadFileRequest;
    try {
        co_await e.Comm.SettingsAfterDrain("2400,o,8,1");
    } catch (const CommError& error) {
        // A real line that refuses the load settings would garble the load: send nothing.
        LogComm(e, error.what(), "", false);
        e.Show().statusLine = "LOADING FILE " + TwoDigits(request) + " LINE REFUSED";
        co_return;
    }
    co_await e.Sleep(250);
    if (e.bUnloaded) co_return;

    // A missing, unreadable or empty file sends nothing and says which file it was.
    const std::string path = LoadFilePath(e.ProgramDir(), request);
    std::string bytes;
    std::string problem;
    if (!ReadFile(path, bytes, problem)) {
        e.Show().statusLine = "CANNOT LOAD " + path.substr(path.rfind('/') + 1);
        LogComm(e, fmt::format("Cannot load {}: {}", path, problem), "", false);
        co_return;
    }

    const long long length = static_cast<long long>(bytes.size());
    long long position = 0;
    long long chunks = 0;
    int chunkCount = 0;
    bool portLost = false;
    e.Show().statusLine = LoaderStatus(request, 0, 0);
    for (;;) {
        if (position >= length || !e.bLoadingResident) break;
        // The status counts what has been handed to the line, so it waits for room first.
        // Stopped, unloading or the port gone: the checks after the loop end the load.
        if (!co_await WaitForLineRoom(e, 1)) break;
        co_await LetOthersRun(e);
        if (e.bUnloaded) co_return;
        ++position;
        ++chunkCount;
        if (!e.bLoadingResident) break;
        e.Show().statusLine = LoaderStatus(request, chunks, position);
        if (!Write(e, bytes.substr(static_cast<std::size_t>(position - 1), 1))) {
            portLost = true;  // the device vanished: no further byte, no trailer
            break;
        }
        if (!e.bLoadingResident) break;
        if (chunkCount == kChunkBytes) {
            ++chunks;
            e.Show().statusLine = LoaderStatus(request, chunks, position);
            chunkCount = 0;
            co_await e.Sleep(chunkDelay);
        }
    }
    co_await LetOthersRun(e);
    if (e.bUnloaded || portLost || !e.bLoadingResident) co_return;
    // The trailer waits for the line like the file; a stop meanwhile ends it.
    if (!co_await WaitForLineRoom(e, 2) || !Write(e, std::string("\xAF\xAF", 2))) co_return;
    const std::string zero(1, '\0');
    for (int i = 0; i < 253; ++i)
        if (!co_await WaitForLineRoom(e, 1) || !Write(e, zero)) co_return;
}

}  // namespace corvane
