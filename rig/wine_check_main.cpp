// corvane-wine-check: the Windows program's headless run under Wine, between the rig's pty
// terminal (Wine's COM1) and a loopback host: the load on the terminal's request, every byte
// value both ways, and Ctrl-C (SIGINT to the Wine process) ending the run with status 0.
//
//   corvane-wine-check [--exe PATH] [--prefix-template DIR] [--window]
//
// --window also starts the window (on $DISPLAY, for example under xvfb-run) and closes it as
// the platform closes a program's windows (taskkill without /f sends WM_CLOSE): it must end
// with status 0.
// PATH is corvane.exe (default: $CORVANE_WINDOWS_EXE). A prefix template, when given, is made
// once (a fresh prefix costs seconds) and copied for each check. Prints each step and the
// run's log lines; exits 0 when every check passed, 1 when one failed, 2 when the check could
// not be set up.
#include <unistd.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/sample_load_file.h"
#include "rig/temp_dir.h"
#include "rig/wait.h"
#include "rig/wine_prefix.h"

using namespace corvane::rig;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kStart = Clock::now();

void Say(const std::string& line) {
    const double s = std::chrono::duration<double>(Clock::now() - kStart).count();
    std::printf("[%6.2f s] %s\n", s, line.c_str());
    std::fflush(stdout);
}

struct Options {
    std::string exe;
    std::string prefixTemplate;
    bool window = false;
};

Options Read(int argc, char** argv) {
    Options o;
    if (const char* env = std::getenv("CORVANE_WINDOWS_EXE")) o.exe = env;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--exe" && i + 1 < argc) {
            o.exe = argv[++i];
        } else if (a == "--prefix-template" && i + 1 < argc) {
            o.prefixTemplate = argv[++i];
        } else if (a == "--window") {
            o.window = true;
        } else {
            throw std::runtime_error(
                "usage: corvane-wine-check [--exe PATH] [--prefix-template DIR] [--window]");
        }
    }
    if (o.exe.empty())
        throw std::runtime_error("no corvane.exe: give --exe or CORVANE_WINDOWS_EXE");
    std::error_code ec;
    o.exe = fs::absolute(o.exe, ec).string();
    if (!fs::is_regular_file(o.exe, ec)) throw std::runtime_error(o.exe + " is not there");
    return o;
}

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

// The host's side of a byte string: each 0xFF doubled, as a host sends one.
std::string Doubled(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        out += c;
        if (static_cast<unsigned char>(c) == 0xFF) out += c;
    }
    return out;
}

// True once a process holds the pty's slave open. Under Wine the program's own process opens
// the device and the server keeps a copy: either will do.
bool Holds(const std::vector<pid_t>& pids, const fs::path& device) {
    for (const pid_t pid : pids) {
        std::error_code e;
        for (const fs::directory_entry& fd :
             fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", e)) {
            if (fs::read_symlink(fd.path(), e) == device) return true;
        }
    }
    return false;
}

class Check {
  public:
    bool Expect(bool ok, const std::string& what, const std::string& detail = {}) {
        Say(std::string(ok ? "ok   " : "FAIL ") + what +
            (ok || detail.empty() ? "" : ": " + detail));
        failed_ = failed_ || !ok;
        return ok;
    }
    bool failed() const { return failed_; }

  private:
    bool failed_ = false;
};

// The window starts, and a close from the platform ends it with status 0. Until the window is
// up a close message finds nothing to close: it is sent again every half second.
void CheckWindow(asio::io_context& io, WinePrefix& prefix, const std::string& exe,
                 const std::string& programDir, Check& check) {
    if (!std::getenv("DISPLAY")) {
        check.Expect(false, "the window starts", "no DISPLAY (run under xvfb-run)");
        return;
    }
    // A server of its own, so that Wine's desktop starts on the display.
    prefix.StopServer(10000);
    prefix.StartServer();
    WinePrefix::Program window(
        io, prefix, {exe, "--fresh", "--program-dir", WinePrefix::WindowsPath(programDir)},
        "window", true);
    ChildProcess& w = window.process();
    RunFor(io, 1000);
    check.Expect(w.running(), "the window starts", window.err());
    int closes = 0;
    const bool closed = RunUntil(
        io,
        [&] {
            if (!w.running()) return true;
            ++closes;
            prefix.Run({"taskkill", "/im", fs::path(exe).filename().string()}, 30000);
            return RunUntil(
                io, [&] { return !w.running(); }, 500);
        },
        60000);
    if (!closed) w.signal(SIGKILL);
    w.waitForExit(5000);
    check.Expect(closed && w.exitCode() == 0, "a close from the platform ends it with status 0",
                 closed ? "status " + std::to_string(w.exitCode().value_or(-1)) : "still running");
    Say("closed after " + std::to_string(closes) + " close message(s)");
}

int RunChecks(const Options& o) {
    asio::io_context io;
    TempDir work;
    const std::string programDir = work.path() + "/program";
    PtyTerminal terminal(io, programDir, 1);  // the link programDir/ports/com1 -> the pty
    LoopbackHost host(io);
    if (!host.listening()) throw std::runtime_error("no loopback host: " + host.errorString());
    constexpr int kLoadSize = 3000;
    std::string why;
    if (!WriteSampleLoadFile(programDir, 5, kLoadSize, nullptr, &why))
        throw std::runtime_error("no load file: " + why);

    if (!o.prefixTemplate.empty() && !fs::exists(o.prefixTemplate)) {
        Say("making the prefix template " + o.prefixTemplate);
        WinePrefix made(io, o.prefixTemplate);
        made.Run({"cmd", "/c", "exit 0"}, 120000);
    }
    WinePrefix prefix(io, work.path() + "/prefix", o.prefixTemplate);
    Say("prefix " + prefix.dir() + "; wineserver's output in " + prefix.ServerLogPath());
    prefix.MapCom1(terminal.linkPath());
    Say("COM1 leads to " + terminal.linkPath() + " -> " + terminal.slavePath());

    Check check;
    std::string out;
    const int versionStatus = prefix.Run({o.exe, "--version"}, 30000, &out);
    check.Expect(versionStatus == 0 && out.rfind("corvane ", 0) == 0,
                 "corvane.exe --version writes to its redirected output",
                 "status " + std::to_string(versionStatus) + ", output '" + out + "'");

    const std::string hostOption = "127.0.0.1:" + std::to_string(host.port());
    const std::vector<std::string> args = {
        o.exe,           "--headless", "--port",        "com1:2400,e,7,1",
        "--host",        hostOption,   "--program-dir", WinePrefix::WindowsPath(programDir),
        "--chunk-delay", "0",          "--log"};
    Say("wine corvane.exe --headless --port com1:2400,e,7,1 --host " + hostOption + " ...");
    WinePrefix::Program run(io, prefix, args, "headless");
    ChildProcess& p = run.process();
    const bool open = RunUntil(
        io, [&] { return Holds({p.pid()}, terminal.slavePath()) || !p.running(); }, 30000);
    if (!check.Expect(open && p.running(), "the run opens COM1 (the pty)", run.err())) {
        p.signal(SIGKILL);
        return 1;
    }

    // The terminal asks for its load; once it has it, the first key connects the host.
    terminal.send("L05x");
    const bool loaded = terminal.waitForBytes(kLoadSize, 30000);
    const std::string atTerminal = terminal.takeReceived();
    check.Expect(loaded && atTerminal.substr(0, kLoadSize) == SampleLoadBytes(kLoadSize),
                 "the load file goes to the terminal whole, on its request",
                 std::to_string(atTerminal.size()) + " bytes arrived");
    const bool connected = host.waitForConnection(30000) && host.waitForBytes(2, 30000);
    check.Expect(connected && host.takeReceived() == "\r\r", "the host is connected after it");
    RunFor(io, 200);
    terminal.takeReceived();  // the rest of the load's tail, if any

    const std::string all = AllByteValues();
    terminal.send(all);
    const bool up = host.waitForBytes(256, 30000);
    check.Expect(up && host.takeReceived() == all, "every byte value, terminal to host");
    host.send(Doubled(all));
    const bool down = terminal.waitForBytes(256, 30000);
    check.Expect(down && terminal.takeReceived() == all, "every byte value, host to terminal");

    // Ctrl-C: Wine turns SIGINT into the console's Ctrl-C event.
    p.signal(SIGINT);
    const bool ended = p.waitForExit(30000);
    check.Expect(ended && p.exitCode() == 0, "Ctrl-C ends the run with status 0",
                 ended ? "status " + std::to_string(p.exitCode().value_or(-1)) + ", signal " +
                             std::to_string(p.termSignal())
                       : "still running");
    check.Expect(host.waitForDisconnect(10000), "the stop closes the host connection");
    const std::string log = run.out();
    check.Expect(log.find("Connected to 127.0.0.1") != std::string::npos &&
                     log.find("Disconnected from 127.0.0.1") != std::string::npos,
                 "the log lines come to standard output", log);
    Say("the run's output:\n" + log + (run.err().empty() ? "" : "its errors:\n" + run.err()));
    if (!ended) p.signal(SIGKILL);
    if (o.window) CheckWindow(io, prefix, o.exe, programDir, check);
    return check.failed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const int status = RunChecks(Read(argc, argv));
        Say(status == 0 ? "all checks passed" : "a check failed");
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane-wine-check: %s\n", e.what());
        return 2;
    }
}
