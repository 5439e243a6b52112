// The host side of the real-driver stage: the emulator as a child, and the wires between the
// two ends of each back-to-back pair of its serial devices.
#pragma once

#include <string>
#include <vector>

namespace corvane::rig::guest {

struct RelayOptions {
    // Characters a second that the first pair's line delivers from its first device to its
    // second (the bridge's UART to the terminal's): a real line's pace, which the emulation
    // does not keep.
    int charactersPerSecond = 240;
    // The emulator is killed after this long.
    int limitSeconds = 300;
    std::vector<std::string> program;  // the emulator and its arguments
};

// Starts the program with four connected stream sockets as descriptors 3 and 4 (the paced
// pair) and 5 and 6 (the second pair, relayed without bound both ways), relays until it ends
// and returns its exit status (124 when the limit killed it).
int RunRelay(const RelayOptions& options);

}  // namespace corvane::rig::guest
