// The program's options, read before anything else runs.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "links/host_connection.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::testing;
using Mode = CommandLine::Mode;

namespace {

CommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "corvane");
    return ParseCommandLine(args);
}
}  // namespace

TEST(CommandLine, WithoutOptionsItIsTheWindowAndHelpAndVersionPrint) {
    EXPECT_EQ(Parse({}).mode, Mode::Window);
    EXPECT_FALSE(Parse({}).fresh);
    const CommandLine fresh = Parse({"--fresh", "--program-dir", "/srv/plato"});
    EXPECT_EQ(fresh.mode, Mode::Window);
    EXPECT_TRUE(fresh.fresh);
    EXPECT_EQ(fresh.programDir, "/srv/plato");
    // A single dash before a word is a long option, as it always was.
    for (const char* o : {"--help", "-h", "-help"}) {
        EXPECT_EQ(Parse({o}).mode, Mode::Help) << o;
        EXPECT_TRUE(Contains(Parse({o}).text, "--headless")) << o;
        EXPECT_TRUE(Contains(Parse({o}).text, "corvane-headless")) << o;
    }
    EXPECT_EQ(Parse({"--headless", "--help"}).mode, Mode::Help);
    EXPECT_EQ(Parse({"--version"}).mode, Mode::Version);
    EXPECT_TRUE(StartsWith(Parse({"-v"}).text, "corvane "));
    EXPECT_EQ(Parse({"-fresh", "-program-dir=/srv/plato"}).programDir, "/srv/plato");
}

TEST(CommandLine, AHeadlessRunTakesTheWindowsSettings) {
    const CommandLine c =
        Parse({"--headless", "--port", "com3:9600,n,8,1", "--host", "127.0.0.1:8105",
               "--resident-loaded", "viking", "--chunk-delay", "0", "--log"});
    ASSERT_EQ(c.mode, Mode::Headless) << c.text;
    EXPECT_EQ(c.portEntry, "com3:9600,n,8,1");
    EXPECT_EQ(c.systemEntry, "127.0.0.1:127.0.0.1:8105");
    EXPECT_TRUE(c.residentLoaded);
    EXPECT_EQ(c.residentKind, "Viking");
    EXPECT_EQ(c.chunkDelay, 0);
    EXPECT_TRUE(c.logToFile);

    // The defaults are the window's start state; the kind is optional, in either form.
    const CommandLine d = Parse({"--headless", "--system=Ludric", "--resident-loaded"});
    ASSERT_EQ(d.mode, Mode::Headless) << d.text;
    EXPECT_EQ(d.portEntry, "com1:2400,e,7,1");
    EXPECT_TRUE(d.residentLoaded);
    EXPECT_TRUE(d.residentKind.empty());
    EXPECT_FALSE(d.chunkDelay);
    EXPECT_FALSE(d.logToFile);
    EXPECT_EQ(Parse({"--headless", "--system", "Ludric", "--resident-loaded=IST-II"}).residentKind,
              "IST-II");
    EXPECT_FALSE(Parse({"--headless", "--system", "Ludric"}).residentLoaded);
    // A value is the next argument whatever it looks like; blanks around a delay are no matter.
    EXPECT_EQ(Parse({"--headless", "--system", "Ludric", "--chunk-delay", " 25 "}).chunkDelay, 25);
    EXPECT_EQ(Parse({"--headless", "--host", "h:1", "--program-dir", "-x"}).programDir, "-x");
}

TEST(CommandLine, PortsAreEntriesOrDevicesAndDevicesOpenAtTheRelaySettings) {
    std::string why;
    EXPECT_EQ(PortEntryOption("com2", &why), "com2:2400,e,7,1");
    EXPECT_EQ(PortEntryOption("com12:2400,o,8,1", &why), "com12:2400,o,8,1");
    EXPECT_EQ(PortEntryOption("COM4", &why), "COM4:2400,e,7,1");
    EXPECT_EQ(PortEntryOption("/dev/ttyUSB0", &why), "/dev/ttyUSB0:2400,e,7,1");
    EXPECT_EQ(PortEntryOption("/dev/ttyUSB0:9600,n,8,1", &why), "/dev/ttyUSB0:9600,n,8,1");
    // As a unit's instance (%I) gives it: the leading "/" is gone.
    EXPECT_EQ(PortEntryOption("dev/ttyACM0", &why), "/dev/ttyACM0:2400,e,7,1");
    // by-path names hold colons of their own.
    EXPECT_EQ(PortEntryOption("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", &why),
              "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0:2400,e,7,1");
    EXPECT_FALSE(PortEntryOption("ttyUSB0", &why));
    EXPECT_TRUE(Contains(why, "ttyUSB0"));
}

TEST(CommandLine, SystemsByNameFirstOfTwoOrByWholeEntryAndHostsByHostAndPort) {
    const std::vector<std::string> presets = SystemPresets();
    ASSERT_EQ(presets.size(), 4u);
    std::string why;
    EXPECT_EQ(SystemEntryOption("cyber1", presets, &why), presets.at(0));
    EXPECT_EQ(SystemEntryOption(presets.at(1), presets, &why), presets.at(1));
    EXPECT_EQ(SystemEntryOption("Ludric", presets, &why), presets.at(3));
    EXPECT_FALSE(SystemEntryOption("ludric", presets, &why));
    EXPECT_TRUE(Contains(why, "cyber1, novanet, Ludric"));

    EXPECT_EQ(HostEntryOption("plato.example:8005", &why), "plato.example:plato.example:8005");
    for (const char* bad : {"127.0.0.1", "127.0.0.1:", ":8005", "127.0.0.1:0", "127.0.0.1:65536",
                            "127.0.0.1:80x", "::1:8005"}) {
        why.clear();
        EXPECT_FALSE(HostEntryOption(bad, &why)) << bad;
        EXPECT_TRUE(StartsWith(why, std::string("--host ") + bad)) << bad;
    }
}

TEST(CommandLine, WrongOrMisplacedOptionsAreRefusedWithTheReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"stray"},
        {"--port", "com1"},  // settings for a headless run only
        {"--log"},
        {"--headless"},  // no host
        {"--headless", "--system", "cyber1", "--host", "127.0.0.1:1"},
        {"--headless", "--host", "127.0.0.1:1", "--chunk-delay", "1001"},
        {"--headless", "--host", "127.0.0.1:1", "--chunk-delay", "12.5"},
        {"--headless", "--host", "127.0.0.1:1", "--chunk-delay", "-1"},
        {"--headless", "--host", "127.0.0.1:1", "--resident-loaded", "VT100"},
        {"--headless", "--host", "127.0.0.1:1", "--port", "com1", "--port", "com2"},
        {"--headless", "--host"},
        {"--program-dir="},
        {"--fresh", "--", "--help"},  // after "--" nothing is an option
    };
    for (const std::vector<std::string>& args : bad) {
        const CommandLine c = Parse(args);
        EXPECT_EQ(c.mode, Mode::Error) << Joined(args);
        EXPECT_FALSE(c.text.empty()) << Joined(args);
    }
    // The texts people have seen, and scripts may look for.
    EXPECT_EQ(Parse({"--bogus"}).text, "Unknown option 'bogus'.");
    EXPECT_EQ(Parse({"--bogus", "-x=1"}).text, "Unknown options: bogus, x.");
    EXPECT_EQ(Parse({"--headless", "--host"}).text, "Missing value after '--host'.");
    EXPECT_EQ(Parse({"--log=yes", "--bogus"}).text, "Unexpected value after '--log'.");
    EXPECT_EQ(Parse({"stray"}).text, "unexpected argument: stray");
    EXPECT_EQ(Parse({"--headless", "--host", "h:1", "--port", "a", "--port", "b"}).text,
              "--port is given more than once");
    EXPECT_EQ(Parse({"--log"}).text,
              "--log is an option of --headless; the window takes its settings from its controls");
}
