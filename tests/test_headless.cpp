// corvane-headless as a service runs it: no display, the rig's pty as the terminal and a
// loopback host, ended by a signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/hand_over.h"
#include "rig/child_process.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/sample_load_file.h"
#include "rig/temp_dir.h"
#include "rig/wait.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::rig;
using namespace corvane::testing;
namespace fs = std::filesystem;

namespace {

// Started as a service starts it: without a display, whatever the test's environment holds.
class Headless : public ChildProcess {
  public:
    Headless(asio::io_context& io, const std::vector<std::string>& args,
             const std::string& program = CORVANE_HEADLESS_BINARY)
        : ChildProcess(io, program, args,
                       Environment({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})),
          io_(io) {}

    // True once the program holds `device` open: the bytes a terminal sends before then would
    // be the line's, not the program's.
    bool waitForOpen(const std::string& device, int ms = 10000) {
        std::error_code ec;
        const fs::path target = fs::canonical(device, ec);
        const fs::path fds = "/proc/" + std::to_string(pid()) + "/fd";
        return RunUntil(
            io_,
            [&] {
                std::error_code e;
                for (const fs::directory_entry& fd : fs::directory_iterator(fds, e)) {
                    if (fs::read_symlink(fd.path(), e) == target) return true;
                }
                return false;
            },
            ms);
    }

    // The file names of the shared objects the program has mapped.
    std::vector<std::string> mappedLibraries() const {
        std::ifstream maps("/proc/" + std::to_string(pid()) + "/maps");
        std::vector<std::string> names;
        for (std::string line; std::getline(maps, line);) {
            const std::size_t slash = line.find('/');
            if (slash == std::string::npos || line.find(".so", slash) == std::string::npos)
                continue;
            const std::string name = fs::path(line.substr(slash)).filename().string();
            if (names.empty() || names.back() != name) names.push_back(name);
        }
        return names;
    }

  private:
    asio::io_context& io_;
};

std::string HostOption(const LoopbackHost& host) {
    return "127.0.0.1:" + std::to_string(host.port());
}
void ExpectBytesBothWays(PtyTerminal& terminal, LoopbackHost& host) {
    terminal.send("hello");
    ASSERT_TRUE(host.waitForBytes(5, 10000));
    EXPECT_EQ(host.takeReceived(), "hello");
    host.send(std::string("w\xff\xffo\0r", 6) + "ld");  // a doubled 0xFF is one
    ASSERT_TRUE(terminal.waitForBytes(7, 10000));
    EXPECT_EQ(terminal.takeReceived(), std::string("w\xffo\0rld", 7));
}

}  // namespace

// A pty terminal linked as ports/com1 in the run's folder and a loopback host, on the
// test's io_context.
class HeadlessBridge : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(host.listening()) << host.errorString(); }

    // A run on this terminal and host with the resident loaded, as the unit starts it.
    std::vector<std::string> LoadedRun() const {
        return {"--port",         terminal.linkPath(), "--host",
                HostOption(host), "--resident-loaded", "--program-dir",
                dir.path()};
    }

    asio::io_context io;
    TempDir dir;
    PtyTerminal terminal{io, dir.path(), 1};
    LoopbackHost host{io};
};

TEST_F(HeadlessBridge, LoadsTheResidentThenBridgesBothWaysAndEndsOnSigtermWithStatusZero) {
    ASSERT_TRUE(WriteSampleLoadFile(dir.path(), 5, 600));
    Headless run(io, {"--headless", "--port", "com1:2400,e,7,1", "--program-dir", dir.path(),
                      "--host", HostOption(host), "--chunk-delay", "0", "--log"});
    ASSERT_TRUE(run.waitForOpen(terminal.slavePath())) << run.err();

    terminal.send("L05x");
    ASSERT_TRUE(terminal.waitForBytes(600, 10000));
    EXPECT_EQ(terminal.takeReceived().substr(0, 600), SampleLoadBytes(600));
    ASSERT_TRUE(host.waitForConnection(10000));
    ASSERT_TRUE(host.waitForBytes(2, 10000));
    EXPECT_EQ(host.takeReceived(), "\r\r");
    RunFor(io, 100);
    terminal.takeReceived();  // the rest of the load
    ExpectBytesBothWays(terminal, host);

    run.signal(SIGTERM);
    ASSERT_TRUE(run.waitForExit(10000));
    EXPECT_EQ(run.termSignal(), 0);
    EXPECT_EQ(run.exitCode(), 0) << run.err();
    EXPECT_TRUE(host.waitForDisconnect(5000));
    // The log lines went to standard output as they happened, and with --log to the file.
    EXPECT_TRUE(Contains(run.out(), "> 00  \xc2\xb7 Connected to 127.0.0.1")) << run.out();
    EXPECT_TRUE(Contains(run.out(), "Disconnected from 127.0.0.1")) << run.out();
    EXPECT_TRUE(Contains(ReadAll(dir.path() + "/log/000.txt"), "Connected to 127.0.0.1"));
}

TEST_F(HeadlessBridge, ASignalWhileTheStartWaitsForTheTerminalEndsTheRunWithStatusZero) {
    Headless run(io, {"--host", HostOption(host), "--program-dir", dir.path()});
    ASSERT_TRUE(run.waitForOpen(terminal.slavePath())) << run.err();
    RunFor(io, 100);
    EXPECT_TRUE(run.running());  // the terminal has not asked for its load
    run.signal(SIGTERM);
    ASSERT_TRUE(run.waitForExit(10000));
    EXPECT_EQ(run.exitCode(), 0) << run.err();
    EXPECT_EQ(host.connectionCount(), 0);
    EXPECT_TRUE(run.err().empty()) << run.err();
}

TEST_F(HeadlessBridge, WithTheResidentLoadedADevicePathRunsAtOnceAndSigintEndsIt) {
    // As the unit starts it: without --headless, which this program is.
    Headless run(io, {"--port", terminal.linkPath(), "--host", HostOption(host),
                      "--resident-loaded", "Viking", "--program-dir", dir.path()});
    ASSERT_TRUE(host.waitForConnection(10000)) << run.err();
    ASSERT_TRUE(host.waitForBytes(2, 10000));
    EXPECT_EQ(host.takeReceived(), "\r\r");
    ExpectBytesBothWays(terminal, host);
    EXPECT_TRUE(terminal.takeReceived().empty());  // no load was sent

    // A host that stops reading: what the bridge cannot hold is dropped, and the stop that
    // ends the episode says so once.
    host.setReading(false);
    for (int i = 0; i < 128; ++i) terminal.send(std::string(128 * 1024, 'x'));
    RunFor(io, 200);
    host.setReading(true);  // so that the close completes at once
    run.signal(SIGINT);
    ASSERT_TRUE(run.waitForExit(10000));
    EXPECT_EQ(run.exitCode(), 0) << run.err();
    EXPECT_TRUE(host.waitForDisconnect(5000));
    EXPECT_EQ(CountOf(run.out(), "host not reading: "), 1u) << run.out();
    EXPECT_FALSE(fs::exists(dir.path() + "/log/000.txt"));  // no --log, no file
}

TEST_F(HeadlessBridge, ALostLinkEndsTheRunWithStatusOneSoAServiceStartsAnother) {
    // A run given --once is the start button's run: the first fault ends it.
    auto once = [this] {
        std::vector<std::string> args = LoadedRun();
        args.push_back("--once");
        return args;
    };
    {
        Headless run(io, once());
        ASSERT_TRUE(host.waitForBytes(2, 10000)) << run.err();
        host.closeConnection();
        ASSERT_TRUE(run.waitForExit(10000));
        EXPECT_EQ(run.exitCode(), 1);
        EXPECT_TRUE(Contains(run.err(), "corvane: the host ended the connection")) << run.err();
    }
    host.takeReceived();
    {
        // The terminal's side of the line hung up (an adapter pulled).
        Headless run(io, once());
        ASSERT_TRUE(host.waitForConnection(10000)) << run.err();
        ASSERT_TRUE(host.waitForBytes(2, 10000)) << run.err();
        terminal.hangUp();
        ASSERT_TRUE(run.waitForExit(10000));
        EXPECT_EQ(run.exitCode(), 1);
        EXPECT_TRUE(Contains(run.err(), "corvane: the terminal port was lost")) << run.err();
    }

    // Nobody listening at all.
    PtyTerminal second(io, dir.path(), 2);
    const std::uint16_t port = host.port();
    host.stopListening();
    Headless refused(io,
                     {"--port", second.linkPath(), "--host", "127.0.0.1:" + std::to_string(port),
                      "--resident-loaded", "--program-dir", dir.path(), "--once"});
    ASSERT_TRUE(refused.waitForExit(10000));
    EXPECT_EQ(refused.exitCode(), 1);
    EXPECT_TRUE(Contains(
        refused.err(), "corvane: no connection to the host 127.0.0.1 port " + std::to_string(port)))
        << refused.err();
}

TEST(Headless, BadOptionsAndDevicesThatCannotBeOpenedEndWithStatusTwoAndAMessage) {
    asio::io_context io;
    TempDir dir;
    LoopbackHost host(io);
    ASSERT_TRUE(host.listening());
    const std::string missing = dir.path() + "/ttyUSB9";
    fs::create_directories(dir.path() + "/ports");
    fs::create_symlink(missing, dir.path() + "/ports/com3");
    std::ofstream(dir.path() + "/a-file") << "not a folder";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--headless", "--bogus"}, "corvane: Unknown option 'bogus'."},
        {{"--headless", "--system", "nosuch"}, "--system nosuch: no such host system"},
        {{"--headless", "--host", HostOption(host), "--chunk-delay", "2000"}, "--chunk-delay 2000"},
        // With --once a missing device ends the run; kept in service, it is waited for.
        {{"--headless", "--once", "--port", missing, "--host", HostOption(host)},
         "corvane: Can't open " + missing + ":2400,e,7,1\nNo such file or directory"},
        // The link of com3 points at an adapter that is gone.
        {{"--headless", "--once", "--port", "com3", "--host", HostOption(host), "--program-dir",
          dir.path()},
         "Can't open com3:2400,e,7,1"},
        {{"--host", HostOption(host), "--program-dir", dir.path() + "/a-file/log"},
         "corvane: the program folder " + dir.path() + "/a-file/log cannot be made"},
    };
    for (const auto& [args, message] : cases) {
        Headless run(io, args);
        ASSERT_TRUE(run.waitForExit(10000)) << Joined(args);
        EXPECT_EQ(run.termSignal(), 0);
        EXPECT_EQ(run.exitCode(), 2) << Joined(args);
        EXPECT_TRUE(Contains(run.err(), message)) << run.err();
    }
    RunFor(io, 50);
    EXPECT_EQ(host.connectionCount(), 0);
}

TEST(Headless, InstalledInABinFolderItKeepsItsFilesInTheUsersDataFolder) {
    asio::io_context io;
    TempDir dir;
    fs::create_directories(dir.path() + "/bin");
    const std::string program = dir.path() + "/bin/corvane-headless";
    fs::copy_file(CORVANE_HEADLESS_BINARY, program);
    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.path() + "/xdg", dir.path() + "/xdg/corvane"},
        {"relative", dir.path() + "/home/.local/share/corvane"},
    };
    for (const auto& [xdg, made] : cases) {
        std::vector<std::string> env = ChildProcess::Environment({"XDG_DATA_HOME", "HOME"});
        env.push_back("XDG_DATA_HOME=" + xdg);
        env.push_back("HOME=" + dir.path() + "/home");
        // A port that cannot be opened ends the run at once, once the folder is made.
        ChildProcess run(io, program,
                         {"--once", "--port", dir.path() + "/ttyUSB9", "--host", "127.0.0.1:1"},
                         env);
        ASSERT_TRUE(run.waitForExit(10000));
        EXPECT_EQ(run.exitCode(), 2);
        EXPECT_TRUE(Contains(run.err(), "Can't open " + dir.path() + "/ttyUSB9")) << run.err();
        EXPECT_TRUE(fs::is_directory(made)) << xdg;
    }
}

TEST(Headless, HelpAndVersionNeedNoDisplay) {
    asio::io_context io;
    for (const char* option : {"--help", "-h"}) {
        Headless help(io, {option});
        ASSERT_TRUE(help.waitForExit(10000));
        EXPECT_EQ(help.exitCode(), 0);
        EXPECT_TRUE(Contains(help.out(), "--headless")) << help.err();
    }
    Headless version(io, {"--headless", "--version"});
    ASSERT_TRUE(version.waitForExit(10000));
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.out().rfind("corvane ", 0), 0u) << version.out();
}

// The program the unit runs maps no Qt library, also with --headless given as `corvane
// --headless` hands it over.
TEST_F(HeadlessBridge, ABridgeRunMapsNoQtLibrary) {
    std::vector<std::string> args = LoadedRun();
    args.insert(args.begin(), "--headless");
    Headless run(io, args);
    ASSERT_TRUE(host.waitForConnection(10000)) << run.err();
    ASSERT_TRUE(host.waitForBytes(2, 10000)) << run.err();
    const std::vector<std::string> libraries = run.mappedLibraries();
    EXPECT_TRUE(std::any_of(libraries.begin(), libraries.end(), [](const std::string& l) {
        return l.rfind("libc.so", 0) == 0;
    })) << "the maps were not read";
    for (const std::string& l : libraries) EXPECT_FALSE(Contains(l, "Qt")) << l;
    run.signal(SIGTERM);
    ASSERT_TRUE(run.waitForExit(10000));
    EXPECT_EQ(run.exitCode(), 0) << run.err();
}

// Beside the tests' own executable there is no corvane-headless: the hand-over says so.
TEST(Headless, AHandOverThatCannotStartTheProgramSaysWhyWithStatusTwo) {
    std::string name = "corvane";
    std::string option = "--headless";
    char* argv[] = {name.data(), option.data(), nullptr};
    EXPECT_EXIT(HandOverToHeadless(2, argv), ::testing::ExitedWithCode(2),
                "corvane: cannot start corvane-headless: .*No such file or directory");
}

#ifdef CORVANE_BINARY
// The window program hands a headless run over: the same process becomes corvane-headless.
TEST_F(HeadlessBridge, TheWindowProgramHandsHeadlessOverAndTheRunMapsNoQt) {
    std::vector<std::string> args = LoadedRun();
    args.insert(args.begin(), "--headless");
    Headless run(io, args, CORVANE_BINARY);
    ASSERT_TRUE(host.waitForBytes(2, 10000)) << run.err();
    std::error_code ec;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(run.pid()) + "/exe", ec),
              fs::canonical(CORVANE_HEADLESS_BINARY, ec));
    for (const std::string& l : run.mappedLibraries()) EXPECT_FALSE(Contains(l, "Qt")) << l;
    run.signal(SIGTERM);
    ASSERT_TRUE(run.waitForExit(10000));
    EXPECT_EQ(run.exitCode(), 0) << run.err();

    // The window without a display still says what to do, as Qt alone would abort.
    Headless window(io, {"--fresh"}, CORVANE_BINARY);
    ASSERT_TRUE(window.waitForExit(10000));
    EXPECT_EQ(window.termSignal(), 0);
    EXPECT_EQ(window.exitCode(), 2);
    EXPECT_TRUE(Contains(window.err(), "no display")) << window.err();
    EXPECT_TRUE(Contains(window.err(), "corvane --headless")) << window.err();
}
#endif
