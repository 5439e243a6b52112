// corvane-guest-check: the helper of scripts/real-drivers. On the machine it runs the
// emulator and the wires between its serial devices (relay); inside the guest it runs the
// bridge against the kernel's own serial drivers and checks what it does (guest).
#include <cstdio>
#include <exception>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "rig/guest_check/checks.h"
#include "rig/guest_check/guest_rig.h"
#include "rig/guest_check/relay.h"

namespace {

using namespace corvane::rig::guest;

constexpr const char* kUsage =
    "Usage: corvane-guest-check relay [--cps N] [--limit SECONDS] -- EMULATOR ARGS...\n"
    "       corvane-guest-check guest --bridge FILE --uart DEV,DEV --usb DEV,DEV --work DIR\n"
    "                                 --unplug COMMAND --replug COMMAND [--cps N]\n"
    "                                 [--idle-seconds N] [--only pairs,idle,paced,load,unplug]\n"
    "\n"
    "relay: runs the emulator with four connected sockets as descriptors 3 to 6 (a 16550 pair\n"
    "on 3 and 4 whose line from 3 to 4 delivers N characters a second, 240 by default; an\n"
    "FTDI pair on 5 and 6, relayed without bound) and exits with its status.\n"
    "guest: inside the guest, runs the bridge on the first device of each pair against a\n"
    "host on the loopback, plays the terminal on the second, and prints figures and PASS or\n"
    "FAIL lines; it asks for the monitor commands with lines \"@@MONITOR COMMAND\". Exits 1\n"
    "when a check failed.\n";

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "corvane-guest-check: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

std::pair<std::string, std::string> TwoDevices(const std::string& text) {
    const auto comma = text.find(',');
    if (comma == std::string::npos) Usage("expected DEV,DEV: " + text);
    return {text.substr(0, comma), text.substr(comma + 1)};
}

int Number(const std::string& text) {
    try {
        return std::stoi(text);
    } catch (const std::exception&) {
        Usage("not a number: " + text);
    }
}

int Relay(const std::vector<std::string>& args) {
    RelayOptions options;
    std::size_t i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        if (i + 1 >= args.size()) Usage(args[i] + " needs a value");
        if (args[i] == "--cps")
            options.charactersPerSecond = Number(args[++i]);
        else if (args[i] == "--limit")
            options.limitSeconds = Number(args[++i]);
        else
            Usage("unknown option " + args[i]);
    }
    if (i >= args.size()) Usage("relay: -- and the emulator's command line expected");
    options.program.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    return RunRelay(options);
}

int Guest(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (args[i].rfind("--", 0) != 0 || i + 1 >= args.size()) Usage("unexpected " + args[i]);
        values[args[i]] = args[i + 1];
    }
    for (const char* needed : {"--bridge", "--uart", "--usb", "--work", "--unplug", "--replug"})
        if (!values.count(needed)) Usage(std::string(needed) + " is needed");
    GuestSetup s;
    s.bridge = values["--bridge"];
    std::tie(s.uartBridge, s.uartTerminal) = TwoDevices(values["--uart"]);
    std::tie(s.usbBridge, s.usbTerminal) = TwoDevices(values["--usb"]);
    s.workDir = values["--work"];
    s.unplugCommand = values["--unplug"];
    s.replugCommand = values["--replug"];
    if (values.count("--cps")) s.charactersPerSecond = Number(values["--cps"]);
    if (values.count("--idle-seconds")) s.idleSeconds = Number(values["--idle-seconds"]);
    std::set<std::string> only;
    std::istringstream list(values.count("--only") ? values["--only"]
                                                   : "pairs,idle,paced,load,unplug");
    for (std::string name; std::getline(list, name, ',');) only.insert(name);

    const std::vector<std::pair<std::string, void (*)(const GuestSetup&)>> checks{
        {"pairs", CheckPairs},
        {"idle", CheckIdle},
        {"paced", CheckPacedLine},
        {"load", CheckResidentLoad},
        {"unplug", CheckUnplug}};
    for (const auto& [name, check] : checks) {
        if (!only.count(name)) continue;
        Say("== " + name);
        try {
            check(s);
        } catch (const std::exception& e) {
            Check(false, name, e.what());
        }
    }
    return Failures() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (args[0] == "relay") return Relay(rest);
        if (args[0] == "guest") return Guest(rest);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane-guest-check: %s\n", e.what());
        return 1;
    }
    Usage("unknown mode " + args[0]);
}
