// The relay pump: one run per 1 ms tick of sTimer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

class Engine;

// At most this many characters go to the terminal per tick.
constexpr int ToTerminalSlice = 25;

void sTimer_Timer(Engine& e);

// Starts the pump's 1 ms timer (a tick every millisecond from now on, while there is work) or
// stops it; stopping also ends a wait for line room.
void StartPumpTimer(Engine& e);
void StopPumpTimer(Engine& e);

// Restarts the pump when it sleeps (its timer stops when nothing waits on either side): one
// tick at once, then every millisecond while there is work. Does nothing when it runs.
void WakePump(Engine& e);
// Whether a tick has anything to do: data queued either way, a flush or a load under way,
// host data held back, dropped input not yet logged.
bool PumpHasWork(Engine& e);
// Writes the one log line of an episode in which the host did not read and terminal input
// was dropped ("host not reading: N bytes dropped"), if there was one.
void ReportHostDrops(Engine& e);

// Characters the serial line must still send before `n` more fit in its room (0 when they fit
// now), from one look at what it holds unsent.
std::int64_t LineBehind(Engine& e, std::int64_t n);

// Reads a decimal number leniently: leading blanks skipped, an optional sign, digits up to
// the first character that cannot continue the number; 0 when none starts there; a number
// beyond the range of an int gives the nearest limit.
int LenientNumber(const std::string& text);
// The file number of a load-file request: one read of exactly 4 characters starting with
// an upper-case "L", characters 2 and 3 read leniently.
std::optional<int> LoadFileRequestOf(const std::string& input);

}  // namespace corvane
