// The serial pairs themselves, the idle bridge on both drivers, and the paced 16550 line: a
// host burst and the flush key.
#include "rig/guest_check/checks.h"

#include <fmt/core.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <thread>

#include "relay/bounds.h"
#include "relay/pump.h"
#include "rig/guest_check/guest_rig.h"
#include "rig/wait.h"

namespace corvane::rig::guest {

namespace {

// The pair's bytes arrive whole and in order; the figure is the pace of the last 100.
void PairCarries(asio::io_context& io, TtyEnd& from, TtyEnd& to, std::size_t n,
                 const std::string& name, int pace) {
    const std::string text = Pattern(n);
    to.clear();
    from.send(text);
    const bool all = to.waitForBytes(n, 20000);
    RunFor(io, 50);
    std::string figure;
    bool paced = true;
    if (all && pace > 0) {
        const auto& t = to.arrivals();
        const double rate = 100 * 1000.0 / (t[n - 1] - t[n - 101]);
        figure = fmt::format(", the last 100 at {:.0f} a second", rate);
        // Never faster than the line; slower only when the emulation itself is starved.
        paced = rate > pace * 0.5 && rate < pace * 1.1;
    }
    Say(fmt::format("{}: {} of {} characters arrived{}", name, to.received().size(), n, figure));
    Check(all && to.received() == text && paced, name);
}

}  // namespace

void CheckPairs(const GuestSetup& s) {
    asio::io_context io;
    {
        TtyEnd a(io, s.uartBridge), b(io, s.uartTerminal);
        PairCarries(io, a, b, 200, "16550 pair carries the bridge's side at the line's pace",
                    s.charactersPerSecond);
        PairCarries(io, b, a, 200, "16550 pair carries the terminal's side", 0);
    }
    TtyEnd a(io, s.usbBridge), b(io, s.usbTerminal);
    PairCarries(io, a, b, 4096, "FTDI pair carries the bridge's side", 0);
    PairCarries(io, b, a, 4096, "FTDI pair carries the terminal's side", 0);
}

void CheckIdle(const GuestSetup& s) {
    asio::io_context io;
    TtyEnd uartTerminal(io, s.uartTerminal), usbTerminal(io, s.usbTerminal);
    Bridge uart(io, s.bridge, s.uartBridge, MakeDir(s.workDir, "idle-uart"), {"--resident-loaded"});
    Bridge usb(io, s.bridge, s.usbBridge, MakeDir(s.workDir, "idle-usb"), {"--resident-loaded"});
    if (!WaitUp(uart, "idle 16550") || !WaitUp(usb, "idle FTDI")) return;
    RunFor(io, 2000);  // past the start's own work
    const std::int64_t uart0 = ContextSwitches(uart.pid()), usb0 = ContextSwitches(usb.pid());
    const double t0 = NowMs();
    // Nothing of this process runs meanwhile: the bridges are alone with their links.
    std::this_thread::sleep_for(std::chrono::seconds(s.idleSeconds));
    const double seconds = (NowMs() - t0) / 1000;
    const std::int64_t uartN = ContextSwitches(uart.pid()) - uart0;
    const std::int64_t usbN = ContextSwitches(usb.pid()) - usb0;
    const double uartRate = uartN / seconds, usbRate = usbN / seconds;
    Say(
        fmt::format("idle, both links open: 8250 ({}) {} wake-ups in {:.1f} s = {:.2f} a second; "
                    "ftdi_sio ({}) {} = {:.2f} a second",
                    s.uartBridge, uartN, seconds, uartRate, s.usbBridge, usbN, usbRate));
    Check(uartRate <= 1.0, "idle on the 8250 driver: at most one wake-up a second",
          fmt::format("{:.2f} a second", uartRate));
    Check(usbRate <= 1.0, "idle on the ftdi_sio driver: at most one wake-up a second",
          fmt::format("{:.2f} a second", usbRate));
    const int uartStatus = uart.stop(), usbStatus = usb.stop();
    Check(uartStatus == 0 && usbStatus == 0, "idle bridges end on SIGTERM with status 0",
          fmt::format("statuses {} and {}", uartStatus, usbStatus));
}

void CheckPacedLine(const GuestSetup& s) {
    const int cps = s.charactersPerSecond;
    const int room = LineRoom(2400, ToTerminalSlice);
    {
        asio::io_context io;
        TtyEnd terminal(io, s.uartTerminal);
        Bridge bridge(io, s.bridge, s.uartBridge, MakeDir(s.workDir, "paced"),
                      {"--resident-loaded"});
        if (!WaitUp(bridge, "paced 16550")) return;
        DeviceLook device(io, s.uartBridge);
        terminal.clear();
        const std::size_t burst = 3000;
        bridge.host().send(Pattern(burst));
        if (!terminal.waitForBytes(1, 5000)) {
            Check(false, "host burst reaches the terminal", "nothing arrived in 5 s");
            return;
        }
        const double first = terminal.arrivals().front();
        RunUntil(
            io, [&] { return NowMs() >= first + 3000; }, 4000);
        const auto& t = terminal.arrivals();
        const auto inThree =
            std::count_if(t.begin(), t.end(), [&](double a) { return a <= first + 3000; });
        Say(
            fmt::format("host burst of {} characters: {} arrived in the first 3 s (the line "
                        "takes {}); the device's output queue held at most {} (the room: {})",
                        burst, inThree, 3 * cps, device.maxOutQueue(), room));
        // Never faster than the line; slower only when the emulation itself is starved.
        Check(inThree >= 3 * cps * 0.5 && inThree <= 3 * cps * 1.1 + kUartFifo,
              "a host burst goes at the line's pace");
        Check(device.maxOutQueue() <= room, "the bridge keeps at most the room in the device");

        // The flush key after a quiet second of typing (the terminal has typed nothing). What
        // still comes once the bridge has the key (it relays it to the host at once) is the
        // one slice that goes out after a flush, the UART's FIFO and what the rig holds.
        const std::size_t before = terminal.received().size();
        const double key = NowMs();
        terminal.send("\x01");
        RunUntil(
            io, [&] { return bridge.host().received().find('\x01') != std::string::npos; }, 5000);
        const double had = NowMs();
        terminal.waitForQuiet(1000, 10000);
        const auto& all = terminal.arrivals();
        const auto afterHad =
            std::count_if(all.begin(), all.end(), [&](double a) { return a > had; });
        const std::size_t afterKey = terminal.received().size() - before;
        Say(fmt::format(
            "flush key: the bridge had it after {:.0f} ms; {} characters arrived "
            "after that (the room {} + the UART's FIFO {} + the rig's {} = {}), {} "
            "after the key was typed; {} of {} arrived in all",
            had - key, afterHad, room, kUartFifo, kRigInFlight, room + kUartFifo + kRigInFlight,
            afterKey, terminal.received().size(), burst));
        Check(afterHad <= room + kUartFifo + kRigInFlight,
              "the flush key leaves at most the room and the UART's FIFO on the line");
        Check(terminal.received().size() < burst, "the flush discards the rest of the burst");
        const int status = bridge.stop();
        Check(status == 0, "paced bridge ends on SIGTERM with status 0",
              fmt::format("status {}", status));
    }
}

}  // namespace corvane::rig::guest
