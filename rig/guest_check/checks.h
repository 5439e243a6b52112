// The checks that run inside the guest, each printing its figures and PASS or FAIL lines.
#pragma once

#include <string>

namespace corvane::rig::guest {

struct GuestSetup {
    std::string bridge;        // the corvane-headless to run
    std::string uartBridge;    // the bridge's 16550 (its line paced by the relay)
    std::string uartTerminal;  // the terminal's 16550
    std::string usbBridge;     // the bridge's FTDI adapter
    std::string usbTerminal;   // the terminal's FTDI adapter
    std::string workDir;       // writable: program folders and load files
    int charactersPerSecond = 240;
    int idleSeconds = 10;
    std::string unplugCommand;  // emulator monitor commands, asked for on standard output
    std::string replugCommand;
};

// Each pair carries bytes both ways, the paced one at its pace.
void CheckPairs(const GuestSetup& s);
// Both links open and quiet: the bridge's wake-ups on each driver.
void CheckIdle(const GuestSetup& s);
// On the paced 16550 pair: a host burst and the flush key.
void CheckPacedLine(const GuestSetup& s);
// On the paced 16550 pair: a resident load, and the switch back to the relay's settings.
void CheckResidentLoad(const GuestSetup& s);
// The bridge's FTDI adapter unplugged and plugged back while the bridge runs.
void CheckUnplug(const GuestSetup& s);

}  // namespace corvane::rig::guest
