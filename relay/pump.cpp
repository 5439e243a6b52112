#include "relay/pump.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "links/engine.h"
#include "links/host_connection.h"
#include "links/terminal_port.h"
#include "logs/comm_log.h"
#include "relay/bounds.h"

namespace corvane {

int LenientNumber(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Beyond the range of an int the number stays at its limit instead of wrapping around.
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long value = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = std::min(value * 10 + (text[i] - '0'), kLimit);
        ++i;
    }
    return static_cast<int>(std::clamp<long long>(negative ? -value : value, INT_MIN, INT_MAX));
}

std::optional<int> LoadFileRequestOf(const std::string& input) {
    if (input.size() != 4 || input[0] != 'L') return std::nullopt;
    return LenientNumber(input.substr(1, 2));
}

namespace {

using Clock = std::chrono::steady_clock;

void ArmTick(Engine& e) {
    const std::uint64_t generation = e.sTimerGeneration;
    e.sTimer.expires_at(e.nextTick);
    e.sTimer.async_wait([&e, generation, alive = e.Alive()](const asio::error_code& ec) {
        if (ec || alive.expired() || !e.sTimerActive || generation != e.sTimerGeneration) return;
        // The next beat keeps the 1 ms pace; a late tick does not make up for lost beats.
        e.nextTick = std::max(e.nextTick + std::chrono::milliseconds(1), Clock::now());
        sTimer_Timer(e);
        if (e.sTimerActive && generation == e.sTimerGeneration) ArmTick(e);
        e.Publish();
    });
}

// A tick now rather than at the timer's next beat; with `thenSend`, one more at once when it
// read input, so that input goes to the host without waiting a beat either.
void TickAtOnce(Engine& e, bool thenSend) {
    asio::post(e.io(), [&e, thenSend, alive = e.Alive()] {
        if (alive.expired() || !e.sTimerActive) return;
        ++e.sTimerGeneration;
        e.nextTick = Clock::now() + std::chrono::milliseconds(1);
        ArmTick(e);
        sTimer_Timer(e);
        if (thenSend && e.sTimerActive && !e.sToHost.empty()) TickAtOnce(e, false);
        e.Publish();
    });
}

void StopLineRoomWake(Engine& e) {
    e.LineRoomWakeActive = false;
    ++e.LineRoomGeneration;
    e.LineRoomWake.cancel();
}

// Stops the timer until the line has sent the `behind` characters that keep the next slice
// out, at its own pace: a real line takes a slice every tenth of a second or so, and looking
// every millisecond in between would only wake the machine. Input, host data and operator
// actions still wake the pump at once.
void SleepUntilLineRoom(Engine& e, std::int64_t behind) {
    const double ms = std::clamp(std::ceil(e.Comm.LineMs(behind)), 1.0, 60000.0);
    e.sTimerActive = false;
    ++e.sTimerGeneration;
    e.sTimer.cancel();
    e.LineRoomWakeActive = true;
    const std::uint64_t generation = ++e.LineRoomGeneration;
    e.LineRoomWake.expires_after(std::chrono::milliseconds(static_cast<int>(ms)));
    e.LineRoomWake.async_wait([&e, generation, alive = e.Alive()](const asio::error_code& ec) {
        if (ec || alive.expired() || generation != e.LineRoomGeneration) return;
        e.LineRoomWakeActive = false;
        WakePump(e);
    });
}

// Steps 4 to 16 of a tick; the caller decides afterwards whether the pump may sleep. Returns
// how many characters the line must still send before the slice waiting for it fits (0 when
// none waits or it went out).
std::int64_t Tick(Engine& e) {
    // 2-3. The quiet time is taken before this tick's read moves the stamp.
    const std::int64_t now = e.NowSeconds();
    if (!e.sLastTermIn) e.sLastTermIn = now - 10;
    const std::int64_t quiet = now - *e.sLastTermIn;

    // 4. Host data may arrive here and be appended to sToTerminal; held-back host data is
    // taken again once the terminal's side has drained. A keeper holds it back while the
    // terminal's device is away, for its return.
    const bool held = e.HoldHostOutput && !IsTerminalPortOpen(e);
    if (held && e.SSL.AcceptData()) e.SSL.setAcceptData(false);
    if (!held && !e.SSL.AcceptData() && e.sToTerminal.size() <= kToTerminalLow)
        e.SSL.setAcceptData(true);
    e.SSL.DoEvents();

    // 5-7. Terminal to host: everything read in the previous tick, in one Send. A host that
    // has not taken what it was sent before gets nothing more: the input waits in sToHost.
    std::string chunk;
    chunk.swap(e.sToHost);
    if (const auto request = LoadFileRequestOf(chunk)) {
        e.nLoadFileRequest = *request;
        e.Changed.Notify();
    }
    const bool connected = !chunk.empty() && IsHostConnected(e);
    if (connected && e.SSL.BytesToWrite() >= kHostPendingMax) {
        e.sToHost.swap(chunk);
    } else {
        if (connected) {
            e.SSL.Send(chunk);
            e.nBytesToHost += static_cast<std::int64_t>(chunk.size());
        } else {
            e.nInputWithoutHost += static_cast<std::int64_t>(chunk.size());
        }
        ReportHostDrops(e);
    }

    // 8-10. Host to terminal: one slice per tick, while the line has room for it. What the
    // line cannot take yet stays in sToTerminal, in order. A flush also discards what the
    // line has not sent yet, before the one slice that still goes out.
    const bool portOpen = IsTerminalPortOpen(e);
    if (e.bFlushToTerminal && portOpen) {
        try {
            e.Comm.setOutBufferCount(0);
        } catch (const CommError&) {
        }
    }
    std::string slice;
    std::int64_t lineBehind = 0;
    if (!e.sToTerminal.empty() && !held) {
        const std::size_t n = std::min<std::size_t>(ToTerminalSlice, e.sToTerminal.size());
        if (portOpen) lineBehind = LineBehind(e, static_cast<std::int64_t>(n));
        if (lineBehind == 0) {
            slice = e.sToTerminal.substr(0, n);
            e.sToTerminal.erase(0, n);
        }
    }
    if (e.bFlushToTerminal) {
        e.sToTerminal.clear();
        e.bFlushToTerminal = false;
    }
    if (!slice.empty() && IsTerminalPortOpen(e)) {
        try {
            e.Comm.Output(slice);
            e.nBytesToTerminal += static_cast<std::int64_t>(slice.size());
        } catch (const CommError&) {
            // The port went away between the test and the write; its loss is reported once
            // by the component's event.
        }
    }

    // 11-12. Terminal input, queued for the next tick. While the host does not read, what
    // would overfill sToHost is dropped, counted and logged once the episode ends.
    if (!IsTerminalPortOpen(e)) return lineBehind;
    if (e.Comm.InBufferCount() == 0) return lineBehind;
    e.sLastTermIn = now;
    std::string input;
    try {
        input = e.Comm.Input();
    } catch (const CommError&) {
        return lineBehind;
    }
    const std::size_t room = kToHostHeld > e.sToHost.size() ? kToHostHeld - e.sToHost.size() : 0;
    if (input.size() > room && IsHostConnected(e) && !e.sToHost.empty()) {
        e.nHostDropped += static_cast<std::int64_t>(input.size() - room);
        e.sToHost.append(input, 0, room);
    } else {
        e.sToHost.append(input);
    }

    // 13. Input right after other input is relayed but not inspected.
    if (quiet < 1) return lineBehind;
    if (e.QuietInput) e.QuietInput(input);

    // 14. The terminal asks to discard pending host output.
    if (input.find('\x01') != std::string::npos || input.find('\x11') != std::string::npos)
        e.bFlushToTerminal = true;

    // 15-16. The first key after the port opened.
    if (e.View().milestone == "A") {
        if (input == "\x0D") {
            e.Show().milestone = "B";
            e.Show().loginMode = "next";
        } else if (input == "\x11") {
            e.Show().milestone = "B";
            e.Show().loginMode = "stop1";
        }
    }
    if (e.View().milestone == "B") e.Show().milestone = "C";
    return lineBehind;
}

}  // namespace

void StartPumpTimer(Engine& e) {
    if (e.sTimerActive) return;
    e.sTimerActive = true;
    ++e.sTimerGeneration;
    e.nextTick = Clock::now() + std::chrono::milliseconds(1);
    ArmTick(e);
}

void StopPumpTimer(Engine& e) {
    e.sTimerActive = false;
    ++e.sTimerGeneration;
    e.sTimer.cancel();
    StopLineRoomWake(e);
}

void WakePump(Engine& e) {
    if (e.bUnloaded || !e.PumpWakes || e.sTimerActive) return;
    StopLineRoomWake(e);
    e.sTimerActive = true;
    // A key typed on a quiet line is read and sent at once; later ticks keep the timer's pace.
    TickAtOnce(e, true);
}

bool PumpHasWork(Engine& e) {
    // Drops not yet logged keep it awake: a link routine that empties sToHost ends the
    // episode, and the next tick says so.
    return e.bLoadingResident || e.bFlushToTerminal || !e.sToHost.empty() || e.nHostDropped > 0 ||
           // Host data held for a terminal whose device is away waits without ticks.
           ((!e.sToTerminal.empty() || !e.SSL.AcceptData()) &&
            !(e.HoldHostOutput && !IsTerminalPortOpen(e)));
}

void ReportHostDrops(Engine& e) {
    if (e.nHostDropped == 0) return;
    const std::int64_t dropped = e.nHostDropped;
    e.nHostDropped = 0;
    LogComm(e, "host not reading: " + std::to_string(dropped) + " bytes dropped", "", false);
}

std::int64_t LineBehind(Engine& e, std::int64_t n) {
    return std::max<std::int64_t>(
        e.Comm.OutBufferCount() + n - LineRoom(e.Comm.Baud(), ToTerminalSlice), 0);
}

void sTimer_Timer(Engine& e) {
    if (e.bUnloaded) return;

    // 1. During a resident load the terminal's input is read and thrown away.
    if (e.bLoadingResident) {
        try {
            e.Comm.Input();
        } catch (const CommError&) {
        }
        return;
    }

    const std::int64_t lineBehind = Tick(e);

    // Nothing waits on either side: the timer sleeps until the serial port has input, the
    // host sends, an operator acts or a routine queues something (each calls WakePump).
    // When only the line holds things up, it sleeps until the line has room.
    if (!PumpHasWork(e))
        StopPumpTimer(e);
    else if (lineBehind > 0 && e.sToHost.empty() && !e.bFlushToTerminal)
        SleepUntilLineRoom(e, lineBehind);
}

}  // namespace corvane
