#include "rig/wine_prefix.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "rig/wait.h"

namespace corvane::rig {

namespace fs = std::filesystem;

namespace {

std::string OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (folder.empty()) continue;
        const fs::path candidate = fs::path(folder) / name;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    throw std::runtime_error(name + " is not on the PATH (Debian: apt-get install wine wine64)");
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The shell only puts the streams in place, then becomes the program (same process).
const char* const kRedirect = "o=$1; e=$2; shift 2; exec \"$@\" >\"$o\" 2>\"$e\"";

}  // namespace

WinePrefix::WinePrefix(asio::io_context& io, std::string dir, std::string templateDir)
    : io_(io), dir_(std::move(dir)), wine_(OnPath("wine")), wineserver_(OnPath("wineserver")) {
    std::error_code ec;
    if (fs::exists(dir_, ec)) throw std::runtime_error(dir_ + " exists already");
    if (!templateDir.empty() && fs::is_directory(templateDir, ec)) {
        // Its links (dosdevices) are copied as links.
        fs::copy(templateDir, dir_, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
                 ec);
        if (ec) throw std::runtime_error("cannot copy " + templateDir + ": " + ec.message());
    } else {
        fs::create_directories(dir_, ec);
        if (ec) throw std::runtime_error("cannot make " + dir_ + ": " + ec.message());
    }
}

WinePrefix::~WinePrefix() {
    try {
        StopServer(10000);
    } catch (...) {
    }
}

std::vector<std::string> WinePrefix::Environment(bool display) const {
    std::vector<std::string> without = {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "WINEARCH",
                                        "WAYLAND_DISPLAY"};
    if (!display) without.push_back("DISPLAY");
    std::vector<std::string> env = ChildProcess::Environment(without);
    env.push_back("WINEPREFIX=" + dir_);
    env.push_back("WINEDEBUG=-all");
    env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    return env;
}

std::string WinePrefix::WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') c = '\\';
    }
    return windows;
}

void WinePrefix::StartServer() {
    if (server_ && server_->running()) return;
    // In the foreground, so that it stays this process's child (and in no session of its own,
    // so that no pty becomes its controlling terminal); persistent, so that each program
    // does not start it anew.
    server_ = std::make_unique<ChildProcess>(
        io_, "/bin/sh",
        std::vector<std::string>{"-c", "exec \"$1\" --foreground --persistent >>\"$0\" 2>&1",
                                 ServerLogPath(), wineserver_},
        Environment());
    // Ready once it listens in its own folder: a program started before would start another.
    const std::string socket = "/proc/" + std::to_string(server_->pid()) + "/cwd/socket";
    const bool listening = RunUntil(
        io_,
        [&] {
            std::error_code e;
            return fs::is_socket(socket, e) || !server_->running();
        },
        10000);
    if (!listening || !server_->running())
        throw std::runtime_error("wineserver does not start; see " + ServerLogPath());
}

void WinePrefix::StopServer(int timeoutMs) {
    if (!server_) return;
    if (server_->running()) {
        // Ends the server, and with it every Wine process of the prefix.
        ChildProcess kill(io_, wineserver_, {"--kill"}, Environment());
        kill.waitForExit(timeoutMs);
        if (!server_->waitForExit(timeoutMs)) server_->signal(SIGKILL);
        server_->waitForExit(timeoutMs);
    }
    server_.reset();
}

WinePrefix::Program::Program(asio::io_context& io, const WinePrefix& prefix,
                             const std::vector<std::string>& args, const std::string& name,
                             bool display)
    : outPath_(prefix.dir() + "." + name + ".out"), errPath_(prefix.dir() + "." + name + ".err") {
    std::vector<std::string> argv{"-c", kRedirect, "sh", outPath_, errPath_, prefix.wine()};
    argv.insert(argv.end(), args.begin(), args.end());
    process_ = std::make_unique<ChildProcess>(io, "/bin/sh", argv, prefix.Environment(display));
}

std::string WinePrefix::Program::out() const { return ReadWhole(outPath_); }
std::string WinePrefix::Program::err() const { return ReadWhole(errPath_); }

int WinePrefix::Run(const std::vector<std::string>& args, int timeoutMs, std::string* out,
                    std::string* err) {
    StartServer();
    Program program(io_, *this, args, "run" + std::to_string(++runs_));
    if (!program.process().waitForExit(timeoutMs)) {
        program.process().signal(SIGKILL);
        program.process().waitForExit(5000);
        throw std::runtime_error("wine " + (args.empty() ? std::string() : args[0]) +
                                 " did not end within " + std::to_string(timeoutMs) + " ms");
    }
    if (out) *out = program.out();
    if (err) *err = program.err();
    const std::optional<int> code = program.process().exitCode();
    return code ? *code : -1;
}

void WinePrefix::MapCom1(const std::string& link, int timeoutMs) {
    std::error_code ec;
    const fs::path pty = fs::canonical(link, ec);
    if (ec || pty.string().rfind("/dev/pts/", 0) != 0)
        throw std::runtime_error(link + " does not lead to a pty");
    // The first start of a fresh prefix makes it (and maps COM1 to /dev/ttyS0, opening nothing).
    StartServer();
    std::string err;
    if (Run({"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/t", "REG_SZ", "/d", link,
             "/f"},
            timeoutMs, nullptr, &err) != 0)
        throw std::runtime_error("cannot set COM1 in the registry: " + err);
    // The mount manager reads the ports when Wine's services start: a new server starts them.
    StopServer(10000);
    StartServer();
    if (Run({"cmd", "/c", "exit 0"}, timeoutMs, nullptr, &err) != 0)
        throw std::runtime_error("Wine's services do not start: " + err);
    const fs::path com1 = fs::path(dir_) / "dosdevices" / "com1";
    fs::path target;
    const bool mapped = RunUntil(
        io_,
        [&] {
            std::error_code e;
            target = fs::read_symlink(com1, e);
            return !e && target == fs::path(link);
        },
        5000);
    if (!mapped)
        throw std::runtime_error(com1.string() + " leads to " + target.string() + ", not to " +
                                 link);
    if (fs::canonical(com1, ec) != pty)
        throw std::runtime_error(com1.string() + " does not resolve to " + pty.string());
}

}  // namespace corvane::rig
