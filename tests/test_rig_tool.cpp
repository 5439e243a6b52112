// corvane-rig as an operator runs it: its console, and its terminal and host on either side
// of an engine; and the pieces the rig's tools share.
#include <fcntl.h>
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio/ip/tcp.hpp>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "links/engine.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"
#include "resident/loader.h"
#include "rig/child_process.h"
#include "rig/engine_bridge.h"
#include "rig/proc_stats.h"
#include "rig/sample_load_file.h"
#include "rig/temp_dir.h"
#include "rig/terminal_console.h"
#include "rig/wait.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::rig;
using namespace corvane::testing;

namespace {

std::string FromHex(const std::string& text) { return *ParseHexBytes(text); }
bool IsSymLink(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_symlink(path, ec);
}

// The port is free when asked; nothing else on this machine should take it in between.
std::uint16_t FreePort() {
    asio::io_context io;
    asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
    return probe.local_endpoint().port();
}

// The rig as a child. A child's own standard input is /dev/null, so the console is a fifo
// that a shell puts in its place; this side holds it open for writing, as a terminal would.
class RigProcess {
  public:
    RigProcess(asio::io_context& io, const std::vector<std::string>& args) : io_(io) {
        const std::string console = dir_.path() + "/console";
        if (::mkfifo(console.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
        // Read and write: the open does not wait for the rig, and no write raises SIGPIPE.
        console_ = ::open(console.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (console_ < 0) throw std::runtime_error("no console fifo");
        std::vector<std::string> shell = {"-c", "in=$1; shift; exec \"$0\" \"$@\" <\"$in\"",
                                          CORVANE_RIG_BINARY, console};
        shell.insert(shell.end(), args.begin(), args.end());
        process = std::make_unique<ChildProcess>(io, "/bin/sh", shell);
    }
    ~RigProcess() {
        process.reset();  // kills one still running
        ::close(console_);
    }
    const std::string& out() const { return process->out(); }
    const std::string& err() const { return process->err(); }
    bool waitForOutput(const std::string& text, int ms = 10000) {
        return RunUntil(
            io_, [&] { return out().find(text) != std::string::npos; }, ms);
    }
    bool waitForEnd(int ms = 10000) { return process->waitForExit(ms); }
    int exitCode() const { return process->exitCode().value_or(-1); }
    void type(const std::string& line) {
        const std::string bytes = line + "\n";
        ASSERT_EQ(::write(console_, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    std::unique_ptr<ChildProcess> process;

  private:
    asio::io_context& io_;
    TempDir dir_;
    int console_ = -1;
};

// The bytes of all record lines with the tag, in order.
std::string Recorded(const std::string& path, const std::string& tag) {
    std::istringstream lines(ReadAll(path));
    std::string bytes;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos || line.substr(first + 1, second - first - 1) != tag)
            continue;
        bytes += FromHex(line.substr(second + 1));
    }
    return bytes;
}
}  // namespace

TEST(RigConsole, HexLinesTakeOneOrTwoDigitBytesAndRefuseAnythingElse) {
    EXPECT_EQ(ParseHexBytes("1b 77 63"), std::string("\x1b\x77\x63"));
    EXPECT_EQ(ParseHexBytes(" 0  A\tFf "), std::string("\x00\x0a\xff", 3));
    std::string why;
    for (const char* bad : {"1b zz 63", "123", "1b,77", "0x1b", "", "   "}) {
        EXPECT_FALSE(ParseHexBytes(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(RigConsole, CommandsSayWhoSendsWhat) {
    ConsoleCommand c = ParseConsoleLine("text  two  blanks ");
    EXPECT_EQ(c.kind, ConsoleCommand::ToProgramFromTerminal);
    EXPECT_EQ(c.bytes, " two  blanks ");  // exactly as typed after the one separator
    c = ParseConsoleLine("request 5");
    EXPECT_EQ(c.bytes, "L05\r");
    EXPECT_EQ(ParseConsoleLine("request 12").bytes, "L12\r");
    c = ParseConsoleLine("host hex ff 41");
    EXPECT_EQ(c.kind, ConsoleCommand::ToProgramFromHost);
    EXPECT_EQ(c.bytes, std::string("\xff\x41"));
    EXPECT_EQ(ParseConsoleLine("host text x").bytes, "x");
    EXPECT_EQ(ParseConsoleLine("  ").kind, ConsoleCommand::Nothing);
    EXPECT_EQ(ParseConsoleLine("quit").kind, ConsoleCommand::Quit);
    for (const char* bad : {"hex 1b zz", "text", "request 123", "request x", "host", "host 41",
                            "Hex 41", "41 42", "quit now"}) {
        c = ParseConsoleLine(bad);
        EXPECT_EQ(c.kind, ConsoleCommand::Refused) << bad;
        EXPECT_TRUE(c.bytes.empty()) << bad;
    }
}

TEST(RigConsole, DumpRowsShowHexAndPrintableText) {
    // Built by appending: g++ 12 warns wrongly about operator+ on two temporaries.
    std::string bytes("Hi\r\n", 4);
    bytes.append(14, 'x');
    const std::vector<std::string> rows = DumpRows(bytes);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].rfind("48 69 0d 0a 78", 0), 0u);
    EXPECT_TRUE(rows[0].ends_with("|Hi..xxxxxxxxxxxx|"));
    EXPECT_EQ(rows[1], "78 78" + std::string(42, ' ') + "  |xx|");
}

// Lines come whole however the input is split, without their line ends; the last one at the
// end of input; an endless one is dropped; and the descriptor's blocking mode is put back.
TEST(RigConsole, InputGivesWholeLinesAndPutsItsDescriptorBack) {
    asio::io_context io;
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const int flags = ::fcntl(pipe[0], F_GETFL);
    std::vector<std::string> lines;
    int tooLong = 0;
    {
        ConsoleInput in(
            io, pipe[0], [&](std::string line) { lines.push_back(std::move(line)); },
            [&] { ++tooLong; }, 16);
        const std::vector<std::string> parts = {"hex 4", "1\r\ntext a", "\nquit\n\n",
                                                std::string(20, 'x'), "\nlast"};
        for (const std::string& part : parts) {
            ASSERT_EQ(::write(pipe[1], part.data(), part.size()),
                      static_cast<ssize_t>(part.size()));
            RunFor(io, 20);
        }
        EXPECT_EQ(lines, (std::vector<std::string>{"hex 41", "text a", "quit", "", ""}));
        EXPECT_EQ(tooLong, 1);
        EXPECT_FALSE(in.ended());
        ::close(pipe[1]);
        ASSERT_TRUE(RunUntil(
            io, [&] { return in.ended(); }, 2000));
        EXPECT_EQ(lines.back(), "last");
        EXPECT_EQ(lines.size(), 6u);
    }
    EXPECT_EQ(::fcntl(pipe[0], F_GETFL), flags);
    ::close(pipe[0]);
}

TEST(RigTools, CommandLinesTakeValuesBothWaysAndSayWhatIsWrong) {
    const std::vector<OptionSpec> options = {
        {"com", "N", "Port.", "1"}, {"echo", "", "Echo."}, {"banner", "TEXT", "Greeting.", "hi"}};
    ToolCommandLine c = ParseToolCommandLine(
        {"--com", "3", "write-load-file", "--banner=", "--echo", "--", "--x"}, options);
    EXPECT_TRUE(c.error.empty()) << c.error;
    EXPECT_EQ(c.value("com"), "3");
    EXPECT_EQ(c.value("banner"), "");  // given empty: not the default
    EXPECT_TRUE(c.isSet("banner") && c.isSet("echo"));
    EXPECT_EQ(c.arguments, (std::vector<std::string>{"write-load-file", "--x"}));
    std::string why;
    EXPECT_EQ(c.number("com", 1, 256, &why), 3);
    EXPECT_FALSE(c.number("com", 4, 256, &why));
    EXPECT_EQ(why, "--com takes a whole number from 4 to 256, not \"3\"");

    c = ParseToolCommandLine({}, options);
    EXPECT_EQ(c.value("com"), "1");
    EXPECT_FALSE(c.isSet("com"));
    EXPECT_TRUE(ParseToolCommandLine({"-h"}, options).help);
    EXPECT_EQ(ParseToolCommandLine({"--nope"}, options).error, "unknown option \"--nope\"");
    EXPECT_EQ(ParseToolCommandLine({"--com"}, options).error, "missing value after \"--com\"");
    EXPECT_FALSE(ParseToolCommandLine({"--echo=1"}, options).error.empty());
    EXPECT_FALSE(ParseToolCommandLine({"-com", "3"}, options).error.empty());
    c = ParseToolCommandLine({"--com", "3x"}, options);
    EXPECT_FALSE(c.number("com", 1, 256, &why));

    const std::string help = ToolHelp("t [options]", "About t.", options, {{"file", "A file."}});
    EXPECT_EQ(help.rfind("Usage: t [options]\nAbout t.\n\nOptions:\n", 0), 0u) << help;
    EXPECT_TRUE(Contains(help, "  --banner <TEXT>  Greeting.\n")) << help;
    EXPECT_TRUE(Contains(help, "\nArguments:\n  file             A file.\n")) << help;
}

TEST(RigLoadFile, TheSampleShowsAnyShiftAndHoldsNo0xFF) {
    const std::string b = SampleLoadBytes(70000);
    ASSERT_EQ(b.size(), 70000u);
    EXPECT_EQ(b.find('\xFF'), std::string::npos);
    EXPECT_EQ(b[250], '\xFA');
    EXPECT_EQ(b[251], '\0');
    EXPECT_NE(b.substr(0, 256), b.substr(256, 256));  // a lost chunk would not go unseen

    TempDir dir;
    std::string path, why;
    ASSERT_TRUE(WriteSampleLoadFile(dir.path(), 7, 1000, &path, &why)) << why;
    EXPECT_EQ(path, LoadFilePath(dir.path(), 7));
    EXPECT_EQ(ReadAll(path), SampleLoadBytes(1000));
    EXPECT_FALSE(WriteSampleLoadFile(dir.path(), 100, 10, nullptr, &why));
    EXPECT_FALSE(WriteSampleLoadFile(dir.path() + "/missing", 5, 10, nullptr, &why));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(RigProcStats, ReadsCpuAndMemoryOfAProcessAndNothingOfAMissingOne) {
    const auto rss = VmKiB("VmRSS");  // first: the peak read after it is never below it
    const auto hwm = VmKiB("VmHWM");
    ASSERT_TRUE(hwm && rss);
    EXPECT_GT(*rss, 1024);  // a test process holds more than a MiB
    EXPECT_GE(*hwm, *rss);
    const auto cpu = CpuSeconds();
    ASSERT_TRUE(cpu);
    EXPECT_GE(*cpu, 0.0);
    EXPECT_FALSE(CpuSeconds(999999999));
    EXPECT_FALSE(VmKiB("VmHWM", 999999999));
    EXPECT_FALSE(VmKiB("NoSuchField"));
}

TEST(RigProcStats, ListsMappedLibrariesAndThePeersOfAServersConnections) {
    const auto libraries = MappedLibraries();
    ASSERT_TRUE(libraries);
    bool libc = false;
    for (const std::string& path : *libraries) {
        EXPECT_EQ(path[0], '/') << path;
        libc = libc || Contains(path, "/libc.so");
    }
    EXPECT_TRUE(libc);
    EXPECT_FALSE(MappedLibraries(999999999));

    asio::io_context io;
    asio::ip::tcp::acceptor server(io, {asio::ip::make_address("127.0.0.1"), 0});
    const std::uint16_t port = server.local_endpoint().port();
    EXPECT_TRUE(ConnectionPeers(port).empty());  // listening only
    asio::ip::tcp::socket client(io);
    client.connect(server.local_endpoint());
    asio::ip::tcp::socket accepted = server.accept();
    EXPECT_EQ(ConnectionPeers(port), std::vector<std::string>{fmt::format(
                                         "127.0.0.1:{}", client.local_endpoint().port())});
}

TEST(RigTool, WritesTheSampleLoadFileIntoTheProgramsFolder) {
    asio::io_context io;
    TempDir dir;
    RigProcess rig(io, {"write-load-file", "--program-dir", dir.path(), "--size", "600"});
    ASSERT_TRUE(rig.waitForEnd());
    EXPECT_EQ(rig.exitCode(), 0) << rig.err();
    EXPECT_EQ(ReadAll(LoadFilePath(dir.path(), 5)), SampleLoadBytes(600));
}

TEST(RigTool, ItsTerminalAndHostTalkThroughAnEngineByteForByte) {
    asio::io_context io;
    TempDir dir;
    MessageRecorder recorder;
    const std::uint16_t port = FreePort();
    const std::string record = dir.path() + "/record.txt";
    RigProcess rig(io, {"--program-dir", dir.path(), "--host-port", std::to_string(port),
                        "--seconds", "60", "--banner", "RIG BANNER", "--record", record});
    ASSERT_TRUE(rig.waitForOutput("ready:")) << rig.err();

    {
        Engine e(io, dir.path());
        e.AddListener(&recorder);
        ChooseHost(e, "Ludric", port);
        e.SetResidentLoaded(true);
        bool started = false;
        e.Start([&] { started = true; });
        ASSERT_TRUE(RunUntil(
            io, [&] { return started; }, 35000));
        ASSERT_TRUE(IsTerminalPortOpen(e)) << recorder.joined("\n");
        ASSERT_TRUE(IsHostConnected(e));
        ASSERT_TRUE(rig.waitForOutput("host: connection 1 from 127.0.0.1:")) << rig.out();

        // The host's greeting reaches the rig's terminal through the engine.
        ASSERT_TRUE(RunUntil(
            io, [&] { return Recorded(record, "term<").size() >= 12; }, 10000));
        EXPECT_EQ(Recorded(record, "term<"), "RIG BANNER\r\n");
        ASSERT_TRUE(rig.waitForOutput("|RIG BANNER..|"));

        // What the terminal types reaches the rig's host, every byte value included; a line
        // that does not parse sends nothing.
        std::string all;
        std::string allHex = "hex";
        for (int v = 0; v < 256; ++v) {
            all.push_back(static_cast<char>(v));
            allHex += fmt::format(" {:x}", v);
        }
        rig.type("text Hello, Ludric!");
        rig.type(allHex);
        rig.type("hex 41 zz 42");
        rig.type("text END");
        const std::string expected =
            "\r\r"
            "Hello, Ludric!" +
            all + "END";
        EXPECT_TRUE(RunUntil(
            io, [&] { return Recorded(record, "host<").size() >= expected.size(); }, 10000));
        RunFor(io, 100);
        EXPECT_EQ(Recorded(record, "host<"), expected);
        EXPECT_TRUE(Contains(rig.err(), "refused, nothing sent: \"zz\"")) << rig.err();
        EXPECT_FALSE(Contains(rig.err(), "pty terminal")) << rig.err();

        bool stopped = false;
        e.Stop([&] { stopped = true; });
        EXPECT_TRUE(RunUntil(
            io, [&] { return stopped; }, 35000));
        EXPECT_TRUE(rig.waitForOutput("host: disconnected"));
        e.RemoveListener(&recorder);
    }
    rig.type("quit");
    ASSERT_TRUE(rig.waitForEnd());
    EXPECT_EQ(rig.exitCode(), 0);
    EXPECT_TRUE(Contains(rig.out(), "stopped: quit"));
    EXPECT_FALSE(IsSymLink(dir.path() + "/ports/com1"));
}

TEST(RigTool, StopsCleanlyOnSigtermOrItsTimeLimitAndRemovesTheLink) {
    asio::io_context io;
    TempDir dir;
    const std::string link = dir.path() + "/ports/com3";
    {
        RigProcess rig(io, {"--program-dir", dir.path(), "--com", "3", "--host-port",
                            std::to_string(FreePort()), "--seconds", "60"});
        ASSERT_TRUE(rig.waitForOutput("ready:")) << rig.err();
        EXPECT_TRUE(IsSymLink(link));
        rig.process->signal(SIGTERM);
        ASSERT_TRUE(rig.waitForEnd());
        EXPECT_EQ(rig.process->termSignal(), 0);  // it ended by itself
        EXPECT_EQ(rig.exitCode(), 0);
        EXPECT_TRUE(Contains(rig.out(), "stopped: signal"));
        EXPECT_FALSE(IsSymLink(link));
    }
    {
        RigProcess rig(io, {"--program-dir", dir.path(), "--com", "3", "--host-port",
                            std::to_string(FreePort()), "--seconds", "1"});
        ASSERT_TRUE(rig.waitForEnd(15000));
        EXPECT_EQ(rig.exitCode(), 0);
        EXPECT_TRUE(Contains(rig.out(), "stopped: time is up"));
        EXPECT_FALSE(IsSymLink(link));
    }
}

TEST(RigTool, ABusyHostPortIsReportedWithItsReason) {
    asio::io_context io;
    TempDir dir;
    asio::ip::tcp::acceptor holder(io, {asio::ip::make_address("127.0.0.1"), 0});
    const std::uint16_t port = holder.local_endpoint().port();
    RigProcess rig(
        io, {"--program-dir", dir.path(), "--host-port", std::to_string(port), "--seconds", "30"});
    ASSERT_TRUE(rig.waitForEnd());
    EXPECT_NE(rig.exitCode(), 0);
    const std::string& err = rig.err();
    EXPECT_TRUE(Contains(err, fmt::format("cannot listen on 127.0.0.1:{}: ", port))) << err;
    std::string lower = err;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(Contains(lower, "in use")) << err;
    EXPECT_FALSE(IsSymLink(dir.path() + "/ports/com1"));
}
