// How much the bridge holds in each direction, in one place. The design itself bounds
// nothing: a slow line, a host that sends faster than 25 characters a tick, or a host that
// stops reading would otherwise grow a buffer for as long as it goes on.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace corvane {

// Host data waiting in sToTerminal. Above the high mark the host's data is no longer taken:
// the socket's receive window then holds the host back, and nothing is dropped. It is taken
// again once the terminal's side has drained below the low mark. 64 KiB is more than four
// minutes of a 2400-baud line and about three seconds at the pump's full pace.
constexpr std::size_t kToTerminalHigh = 64 * 1024;
constexpr std::size_t kToTerminalLow = kToTerminalHigh / 2;

// Output the host socket holds that the host has not taken yet. Beyond it the terminal's
// input waits in sToHost, up to kToHostHeld; what comes beyond that is dropped and logged.
// A terminal types a few characters a second: 64 KiB each is room for any host hiccup.
constexpr std::int64_t kHostPendingMax = 64 * 1024;
constexpr std::size_t kToHostHeld = 64 * 1024;

// Characters the serial line may hold unsent (the component's queue plus the device's):
// about a tenth of a second of line time, so a flush key takes effect within it, and never
// less than one slice, so a full slice can always go out on an idle line.
constexpr int kLineRoomMs = 100;
inline int LineRoom(int baud, int slice) { return std::max(slice, baud / 10 * kLineRoomMs / 1000); }

}  // namespace corvane
