// The relay pump: one run per 1 ms tick of sTimer.
#pragma once

#include <QByteArray>
#include <optional>

namespace corvane {

class WHost;

// At most this many characters go to the terminal per tick.
constexpr int ToTerminalSlice = 25;

void sTimer_Timer(WHost& w);

// Reads a decimal number leniently: leading blanks skipped, an optional sign, digits up to
// the first character that cannot continue the number; 0 when none starts there; a number
// beyond the range of an int gives the nearest limit.
int LenientNumber(const QByteArray& text);
// The file number of a load-file request: one read of exactly 4 characters starting with
// an upper-case "L", characters 2 and 3 read leniently.
std::optional<int> LoadFileRequestOf(const QByteArray& input);

}  // namespace corvane
