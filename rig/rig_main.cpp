// corvane-rig: plays the terminal on a pty and a stand-in host on 127.0.0.1, so the bridge can
// be tried without a terminal or a host.
#include <fmt/core.h>
#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "rig/bench_figures.h"
#include "rig/loopback_host.h"
#include "rig/proc_stats.h"
#include "rig/pty_terminal.h"
#include "rig/sample_load_file.h"
#include "rig/terminal_console.h"

using namespace corvane::rig;

namespace {

void Say(const std::string& line) {
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);
}

void Complain(const std::string& line) {
    std::fputs(("corvane-rig: " + line + '\n').c_str(), stderr);
    std::fflush(stderr);
}

// The console reads at most this much without a line end before it gives up on the line.
constexpr std::size_t kMaxLine = 1 << 20;
// How often the terminal's arrivals are shown.
constexpr int kShowEveryMs = 5;

struct Options {
    std::string programDir;
    int com = 1;
    std::uint16_t hostPort = 8105;
    std::string banner;
    bool echo = false;
    std::string sendOnConnect;  // --send-file contents, then --burst bytes
    std::string recordPath;
    int seconds = 600;
    int baud = 0;
};

class Rig {
  public:
    Rig(asio::io_context& io, Options options) : io_(io), o_(std::move(options)), limit_(io) {}

    // Brings both sides up; false with the reason told when either cannot be.
    bool start() {
        if (!o_.recordPath.empty()) {
            record_ = std::fopen(o_.recordPath.c_str(), "w");
            if (!record_) {
                Complain(fmt::format("cannot write {}: {}", o_.recordPath, std::strerror(errno)));
                return false;
            }
        }
        host_ = std::make_unique<LoopbackHost>(io_, o_.hostPort, o_.banner);
        if (!host_->listening()) {
            Complain(fmt::format("cannot listen on 127.0.0.1:{}: {}", o_.hostPort,
                                 host_->errorString()));
            return false;
        }
        host_->setEcho(o_.echo);
        host_->connectedChanged = [this](bool up) { onHostConnected(up); };
        try {
            terminal_ = std::make_unique<PtyTerminal>(io_, o_.programDir, o_.com);
        } catch (const std::exception& e) {
            Complain(e.what());
            return false;
        }
        terminal_->setLineRate(o_.baud);
        terminalOffsetMs_ = ElapsedMs(clock_);

        show_ = std::make_unique<Repeat>(io_, kShowEveryMs, [this] {
            showTerminalArrivals();
            if (host_) showHostBytes(host_->takeReceived());
        });

        // Console input; at its end the rig runs on until its time or a signal.
        console_ = std::make_unique<ConsoleInput>(
            io_, STDIN_FILENO, [this](std::string line) { lines_.push_back(std::move(line)); },
            [] { Complain(fmt::format("refused: a line longer than {} bytes", kMaxLine)); },
            kMaxLine);

        limit_.expires_after(std::chrono::seconds(o_.seconds));
        limit_.async_wait([this](std::error_code ec) {
            if (!ec) stop("time is up");
        });
        Say(fmt::format("ready: terminal com{} at {} -> {}; host on 127.0.0.1:{}; {} s", o_.com,
                        terminal_->linkPath(), terminal_->slavePath(), host_->port(), o_.seconds));
        return true;
    }

    void stop(const std::string& why) {
        if (stopping_) return;
        stopping_ = true;
        showTerminalArrivals();
        if (host_) showHostBytes(host_->takeReceived());
        Say(fmt::format("stopped: {}; the terminal received {} bytes, the host {}", why,
                        terminalBytes_, hostBytes_));
    }
    bool stopped() const { return stopping_; }

    // Runs the console lines that have come, outside any handler: a send to a terminal side
    // that does not take its bytes runs the io_context until it does.
    void runConsoleLines() {
        while (!lines_.empty() && !stopping_) {
            std::string line = std::move(lines_.front());
            lines_.pop_front();
            runLine(line);
        }
    }

    // The link goes with the terminal, the listening socket with the host.
    void tearDown() {
        show_.reset();
        limit_.cancel();
        terminal_.reset();
        if (host_) host_->connectedChanged = nullptr;
        host_.reset();
        if (record_) std::fclose(record_);
        record_ = nullptr;
        console_.reset();
    }

  private:
    void onHostConnected(bool up) {
        if (!host_) return;
        showHostBytes(host_->takeReceived());  // what came before, in its order
        if (!up) {
            Say("host: disconnected");
            return;
        }
        Say(fmt::format("host: connection {} from {}", host_->connectionCount(), newestPeer()));
        if (!o_.banner.empty()) show("host>", o_.banner, ElapsedMs(clock_));
        if (!o_.sendOnConnect.empty()) {
            host_->send(o_.sendOnConnect);
            show("host>", o_.sendOnConnect, ElapsedMs(clock_));
        }
    }

    // The peer of the connection not told before; the host listens on 127.0.0.1 only.
    std::string newestPeer() {
        const std::vector<std::string> now = ConnectionPeers(host_->port());
        std::string newest;
        std::vector<std::string> still;
        for (const std::string& p : now) {
            bool told = false;
            for (const std::string& t : told_) told = told || t == p;
            if (told)
                still.push_back(p);
            else if (newest.empty())
                newest = p;
        }
        told_ = std::move(still);  // a closed connection's port may come again
        if (newest.empty()) return "127.0.0.1";
        told_.push_back(newest);
        return newest;
    }

    void showHostBytes(const std::string& bytes) {
        if (bytes.empty()) return;
        hostBytes_ += static_cast<std::int64_t>(bytes.size());
        show("host<", bytes, ElapsedMs(clock_));
    }

    void showTerminalArrivals() {
        if (!terminal_) return;
        terminal_->takeReceived();  // reads what waits; the arrivals keep the bytes and times
        const auto& arrivals = terminal_->arrivals();
        if (arrivals.empty()) return;
        // One batch a showing, stamped with its first byte's arrival: a load's single-byte
        // writes would otherwise make a line each.
        std::string batch;
        batch.reserve(arrivals.size());
        for (const auto& arrival : arrivals) batch.push_back(arrival.second);
        show("term<", batch, terminalOffsetMs_ + arrivals.front().first);
        terminalBytes_ += static_cast<std::int64_t>(arrivals.size());
        terminal_->clearArrivals();
    }

    void show(const char* tag, const std::string& bytes, std::int64_t ms) {
        const std::string stamp = fmt::format("{}.{:03}", ms / 1000, ms % 1000);
        Say(fmt::format("{} {} {} bytes", stamp, tag, bytes.size()));
        for (const std::string& row : DumpRows(bytes)) Say("  " + row);
        if (record_) {
            std::fputs(fmt::format("{} {} {}\n", stamp, tag, HexText(bytes)).c_str(), record_);
            std::fflush(record_);
        }
    }

    void runLine(const std::string& line) {
        const ConsoleCommand c = ParseConsoleLine(line);
        switch (c.kind) {
            case ConsoleCommand::Nothing:
                return;
            case ConsoleCommand::Help:
                Say(ConsoleHelp());
                return;
            case ConsoleCommand::Quit:
                stop("quit");
                return;
            case ConsoleCommand::Refused:
                Complain("refused, nothing sent: " + c.why);
                return;
            case ConsoleCommand::ToProgramFromHost:
                if (!host_->connected()) {
                    Complain("refused, nothing sent: no program is connected to the host");
                    return;
                }
                host_->send(c.bytes);
                show("host>", c.bytes, ElapsedMs(clock_));
                return;
            case ConsoleCommand::ToProgramFromTerminal:
                try {
                    terminal_->send(c.bytes);
                    show("term>", c.bytes, ElapsedMs(clock_));
                } catch (const std::exception& e) {
                    Complain(e.what());
                }
                return;
        }
    }

    asio::io_context& io_;
    Options o_;
    std::chrono::steady_clock::time_point clock_ = std::chrono::steady_clock::now();
    std::int64_t terminalOffsetMs_ = 0;
    std::unique_ptr<LoopbackHost> host_;
    std::unique_ptr<PtyTerminal> terminal_;
    std::unique_ptr<Repeat> show_;
    std::unique_ptr<ConsoleInput> console_;
    std::deque<std::string> lines_;  // complete console lines not yet run
    asio::steady_timer limit_;
    std::FILE* record_ = nullptr;
    std::vector<std::string> told_;  // peers of open connections already told
    std::int64_t terminalBytes_ = 0;
    std::int64_t hostBytes_ = 0;
    bool stopping_ = false;
};

// The folder this tool's executable is in.
std::filesystem::path ExecutableDir() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

bool IsExecutableFile(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

// The folder of a sibling corvane (the window or the headless program): beside the rig, or one
// up (build/ and build/rig/).
std::string DefaultProgramDir() {
    const std::filesystem::path here = ExecutableDir();
    if (here.empty()) return {};
    for (const std::filesystem::path& candidate : {here, here / ".."}) {
        for (const char* program : {"corvane", "corvane-headless"}) {
            if (!IsExecutableFile(candidate / program)) continue;
            std::error_code ec;
            const std::filesystem::path canonical = std::filesystem::canonical(candidate, ec);
            if (!ec) return canonical.string();
        }
    }
    return {};
}

const std::vector<OptionSpec> kOptions = {
    {"program-dir", "DIR", "The program's folder (default: where corvane is)."},
    {"com", "N", "Terminal port comN (default 1).", "1"},
    {"host-port", "N", "Host port on 127.0.0.1 (default 8105, the preset Ludric).", "8105"},
    {"banner", "TEXT",
     "Greeting for each connection, CR LF added; \"\" for none (default: a short one).",
     "Ludric stand-in host (corvane-rig)"},
    {"echo", "", "The host echoes what it receives."},
    {"send-file", "FILE", "The host sends this file on each connection."},
    {"burst", "N", "The host sends N bytes (i mod 251) on each connection."},
    {"record", "FILE", "Record all traffic, time-stamped, as hex lines to FILE."},
    {"baud", "N",
     "The terminal reads at the pace of a line of N baud, 10 bits a character (2400: 240 "
     "characters a second); 0 reads at once (default).",
     "0"},
    {"seconds", "N", "Stop after N seconds (default 600).", "600"},
    {"size", "N", "write-load-file: size in bytes (default 600).", "600"},
    {"number", "NN", "write-load-file: file number 0-99 (default 5).", "5"},
};

const char* const kDescription =
    "A loopback rig for Corvane: plays the terminal on a pty linked as ports/comN under the\n"
    "program's folder, and a stand-in host on 127.0.0.1. Type commands on standard input\n"
    "(\"help\" lists them). Everything shown is tagged term< (the terminal received),\n"
    "term> (it sent), host< and host>.\n\n"
    "  corvane-rig write-load-file [--size N] [--number NN]\n"
    "writes a sample load file istlfNN.dat (byte i is i mod 251) into the program's folder.";

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);

    const ToolCommandLine p =
        ParseToolCommandLine(std::vector<std::string>(argv + 1, argv + argc), kOptions);
    if (!p.error.empty()) {
        Complain(p.error + " (see --help)");
        return 2;
    }
    if (p.help) {
        std::fputs(ToolHelp("corvane-rig [options] [write-load-file]", kDescription, kOptions,
                            {{"write-load-file", "Write a sample load file and exit."}})
                       .c_str(),
                   stdout);
        return 0;
    }

    const auto ReadNumber = [&p](const char* name, std::int64_t low, std::int64_t high,
                                 std::int64_t& out) {
        std::string why;
        const std::optional<std::int64_t> v = p.number(name, low, high, &why);
        if (!v) Complain(why);
        out = v.value_or(0);
        return v.has_value();
    };

    Options o;
    o.programDir = p.isSet("program-dir") ? p.value("program-dir") : DefaultProgramDir();
    if (o.programDir.empty()) {
        Complain("no corvane beside this tool; give --program-dir DIR");
        return 2;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(o.programDir, ec)) {
        Complain(fmt::format("{} is not a folder", o.programDir));
        return 2;
    }

    const std::vector<std::string>& args = p.arguments;
    if (args.size() > 1 || (args.size() == 1 && args[0] != "write-load-file")) {
        std::string all;
        for (const std::string& a : args) all += (all.empty() ? "" : " ") + a;
        Complain(fmt::format("unknown command \"{}\" (see --help)", all));
        return 2;
    }
    if (args.size() == 1) {
        std::int64_t size = 0, number = 0;
        if (!ReadNumber("size", 1, std::int64_t(1) << 30, size) ||
            !ReadNumber("number", 0, 99, number))
            return 2;
        std::string path, why;
        if (!WriteSampleLoadFile(o.programDir, static_cast<int>(number), size, &path, &why)) {
            Complain(fmt::format("cannot write {}: {}", path, why));
            return 1;
        }
        Say(fmt::format("wrote {} ({} bytes)", path, size));
        return 0;
    }

    std::int64_t com = 0, port = 0, seconds = 0, burst = 0, baud = 0;
    if (!ReadNumber("com", 1, 256, com) || !ReadNumber("host-port", 1, 65535, port) ||
        !ReadNumber("seconds", 1, 7 * 24 * 3600, seconds) ||
        !ReadNumber("baud", 0, 4000000, baud) ||
        (p.isSet("burst") && !ReadNumber("burst", 1, std::int64_t(1) << 30, burst)))
        return 2;
    o.com = static_cast<int>(com);
    o.hostPort = static_cast<std::uint16_t>(port);
    o.seconds = static_cast<int>(seconds);
    o.baud = static_cast<int>(baud);
    o.echo = p.isSet("echo");
    o.recordPath = p.value("record");
    const std::string banner = p.value("banner");
    if (!banner.empty()) o.banner = banner + "\r\n";
    if (p.isSet("send-file")) {
        const std::string file = p.value("send-file");
        std::ifstream f(file, std::ios::binary);
        if (!f) {
            Complain(fmt::format("cannot read {}: {}", file, std::strerror(errno)));
            return 2;
        }
        o.sendOnConnect.assign(std::istreambuf_iterator<char>(f), {});
    }
    if (burst > 0) o.sendOnConnect += SampleLoadBytes(burst);

    asio::io_context io;
    Rig rig(io, o);
    // Handled on the io_context, between handlers, not inside the signal handler.
    asio::signal_set signals(io, SIGINT, SIGTERM, SIGHUP);
    signals.async_wait([&rig](std::error_code error, int) {
        if (!error) rig.stop("signal");
    });
    if (!rig.start()) {
        rig.tearDown();
        return 1;
    }
    auto work = asio::make_work_guard(io);
    while (!rig.stopped()) {
        io.run_one();
        rig.runConsoleLines();
    }
    rig.tearDown();
    return 0;
}
