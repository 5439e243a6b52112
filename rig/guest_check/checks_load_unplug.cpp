// The resident load on the paced 16550 pair, and the FTDI adapter pulled while the bridge runs.
#include <fmt/core.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

#include "relay/bounds.h"
#include "relay/pump.h"
#include "rig/guest_check/checks.h"
#include "rig/guest_check/guest_rig.h"
#include "rig/wait.h"

namespace corvane::rig::guest {

namespace {

constexpr int kChunkDelayMs = 385;
constexpr std::size_t kLoadSize = 1024;  // four chunks, each followed by the pause

// The device node (its sysfs folder) that a tty hangs off: a USB adapter's interface stays
// the same when it is plugged back into the same port.
std::string Interface(const std::string& ttyName) {
    std::error_code ec;
    const auto device = std::filesystem::canonical("/sys/class/tty/" + ttyName + "/device", ec);
    return ec ? std::string() : device.parent_path().string();
}

// The tty whose interface is `iface`, empty when none (yet).
std::string TtyOn(const std::string& iface) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 && Interface(name) == iface) return name;
    }
    return {};
}

std::string Base(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// True when the bridge keeps its terminal in service by itself (it has a --once for a single
// run): it waits for a device that went away and opens it again.
bool KeepsInService(asio::io_context& io, const std::string& bridge) {
    ChildProcess help(io, bridge, {"--help"});
    help.waitForExit(10000);
    return help.out().find("--once") != std::string::npos;
}

}  // namespace

void CheckResidentLoad(const GuestSetup& s) {
    const int cps = s.charactersPerSecond;
    const int room = LineRoom(2400, ToTerminalSlice);
    asio::io_context io;
    const std::string dir = MakeDir(s.workDir, "load");
    std::string file;
    for (std::size_t i = 0; i < kLoadSize; ++i) file.push_back(static_cast<char>(i * 7 % 256));
    std::ofstream(dir + "/istlf05.dat", std::ios::binary) << file;
    const std::string expected = file + "\xAF\xAF" + std::string(253, '\0');

    TtyEnd terminal(io, s.uartTerminal);
    Bridge bridge(io, s.bridge, s.uartBridge, dir, {"--chunk-delay", "385"});
    if (!RunUntil(
            io, [&] { return HoldsDescriptor(bridge.pid(), s.uartBridge); }, 30000)) {
        Check(false, "resident load: the bridge opens its port", "not within 30 s");
        SayLog("  bridge| ", bridge.log());
        return;
    }
    DeviceLook device(io, s.uartBridge);
    RunFor(io, 300);
    terminal.clear();
    terminal.send("L05\r");  // the request: "L", the file's two digits and one more
    const bool whole = terminal.waitForBytes(expected.size(), 60000);
    const bool up = bridge.waitUp(30000);
    if (terminal.arrivals().empty()) {
        Check(false, "resident load arrives", "nothing arrived");
        SayLog("  bridge| ", bridge.log());
        return;
    }
    const auto& t = terminal.arrivals();
    const double first = t.front();
    const double last = t[std::min(expected.size(), t.size()) - 1];
    const double loadMs = last - first;
    const double lineMs = expected.size() * 1000.0 / cps;
    const double pausesMs = kLoadSize / 256 * kChunkDelayMs;
    const auto load = device.became("2400,o,8,1");
    const auto back = device.became("2400,e,7,1");
    Say(
        fmt::format("resident load: {} characters ({} and the trailer) in {:.2f} s; the line's "
                    "time {:.2f} s, chunk pauses {:.2f} s; the device's output queue held at "
                    "most {} (the room: {})",
                    t.size(), kLoadSize, loadMs / 1000, lineMs / 1000, pausesMs / 1000,
                    device.maxOutQueue(), room));
    Say(fmt::format(
        "resident load: the device went to 2400,o,8,1 {}; back to 2400,e,7,1 {}",
        load ? fmt::format("{:.0f} ms before the first character", first - load->at)
             : std::string("never"),
        back ? fmt::format("{:.0f} ms {} the last character arrived (the rig holds up to "
                           "{:.0f} ms of them), its queue then holding {} and its transmitter {}",
                           std::abs(back->at - last), back->at >= last ? "after" : "before",
                           kRigInFlight * 1000.0 / cps, back->outQueue,
                           back->transmitterEmpty ? "empty" : "still sending")
             : std::string("never")));
    Check(whole && terminal.received().substr(0, expected.size()) == expected,
          "the load and its trailer arrive whole and in order");
    // Never faster than the line; the pauses overlap with the line's queue, and a starved
    // emulation may stretch it all.
    Check(loadMs >= lineMs * 0.97 && loadMs <= (lineMs + pausesMs) * 1.5 + 1000,
          "the load goes at the line's pace");
    Check(device.maxOutQueue() <= room, "the load keeps at most the room in the device");
    // The device itself says whether its line had drained when the settings changed (what
    // the terminal sees lags by what the rig holds, more when the emulation is starved).
    Check(back && back->outQueue == 0 && back->transmitterEmpty &&
              back->at >= last - kRigInFlight * 1000.0 / cps - 100 && back->at <= last + 2000,
          "the switch back to 2400,e,7,1 comes only after the line drained");
    Check(up, "after the load the host gets its connection and the two carriage returns");
    const int status = bridge.stop();
    Check(status == 0, "loading bridge ends on SIGTERM with status 0",
          fmt::format("status {}", status));
}

void CheckUnplug(const GuestSetup& s) {
    asio::io_context io;
    const std::string name = Base(s.usbBridge);
    const std::string iface = Interface(name);
    const bool keeps = KeepsInService(io, s.bridge);
    TtyEnd terminal(io, s.usbTerminal);
    auto bridge = std::make_unique<Bridge>(io, s.bridge, s.usbBridge, MakeDir(s.workDir, "unplug"),
                                           std::vector<std::string>{"--resident-loaded"});
    if (!WaitUp(*bridge, "unplug")) return;
    terminal.send("hello");
    bridge->host().send("hi");
    const bool relays = bridge->host().waitForBytes(7, 10000) && terminal.waitForBytes(2, 10000);
    Check(relays, "the bridge relays over the FTDI adapter both ways");

    const double pulled = NowMs();
    Say("@@MONITOR " + s.unplugCommand);
    const bool gone = RunUntil(
        io, [&] { return !std::filesystem::exists(s.usbBridge); }, 10000);
    const double goneAt = NowMs();
    ChildProcess& process = bridge->process();
    const bool released = RunUntil(
        io, [&] { return !process.running() || !HoldsDescriptor(process.pid(), s.usbBridge); },
        5000);
    const double releasedAt = NowMs();
    // A bridge that keeps its terminal in service waits for the device; one that does not
    // ends its run on the lost link.
    const bool ended = process.waitForExit(keeps ? 1000 : 10000);
    const int status = process.exitCode().value_or(-1);
    Say(
        fmt::format("unplugged: the node went after {:.0f} ms, the bridge's descriptor after "
                    "{:.0f} ms; the bridge {}",
                    goneAt - pulled, releasedAt - pulled,
                    ended ? fmt::format("ended with status {}", status)
                          : std::string("runs on, waiting for its device")));
    const std::string log = bridge->log();
    Check(gone, "the adapter's node goes on device_del");
    Check(released && releasedAt - goneAt <= 1000, "the bridge closes its descriptor at once");
    Check(log.find(s.usbBridge + ": port lost") == std::string::npos,
          "the loss is told once, by the communication log, not by the component too");
    Check(log.find("Terminal port " + s.usbBridge + " lost: ") != std::string::npos,
          "the communication log names the lost device and why");
    if (keeps)
        Check(!ended, "the bridge runs on and waits for its device",
              fmt::format("it ended with status {}", status));
    else
        Check(ended && status == 1, "the run ends with status 1 on the lost link",
              fmt::format("status {}", status));

    // Plugged back a second later, as a hand would: a port that changes again while its hub
    // still handles the removal may miss the new device.
    RunFor(io, 1000);
    const double plugged = NowMs();
    Say("@@MONITOR " + s.replugCommand);
    std::string back;
    RunUntil(
        io,
        [&] {
            back = TtyOn(iface);
            return !back.empty() && std::filesystem::exists("/dev/" + back);
        },
        15000);
    Say(fmt::format("plugged back: the adapter is /dev/{} after {:.0f} ms",
                    back.empty() ? "(none)" : back, NowMs() - plugged));
    Check(back == name, "the adapter comes back under its old name",
          back.empty() ? "it did not come back" : "it came back as " + back);
    if (back == name && keeps && !ended) {
        const bool reopened = RunUntil(
            io, [&] { return HoldsDescriptor(process.pid(), s.usbBridge); }, 15000);
        Say(fmt::format("plugged back: the bridge {}",
                        reopened
                            ? fmt::format("had it open again after {:.0f} ms", NowMs() - plugged)
                            : std::string("did not open it again in 15 s")));
        terminal.clear();
        bridge->host().send("again");
        Check(reopened && terminal.waitForBytes(5, 10000) && terminal.received() == "again",
              "the bridge opens the adapter plugged back by itself and relays over it");
    }
    SayLog("  bridge| ", bridge->log());
    if (keeps) {
        const int last = bridge->stop();
        Check(last == 0, "the bridge ends on SIGTERM with status 0",
              fmt::format("status {}", last));
    }
    if (back != name || keeps) return;
    Bridge again(io, s.bridge, s.usbBridge, MakeDir(s.workDir, "replug"), {"--resident-loaded"});
    if (!WaitUp(again, "replug")) return;
    terminal.clear();
    again.host().send("again");
    Check(terminal.waitForBytes(5, 10000) && terminal.received() == "again",
          "a new bridge relays over the adapter plugged back");
    again.stop();
}

}  // namespace corvane::rig::guest
