// Opening and closing the serial port of the terminal, and its line-change event.
#pragma once

namespace corvane {

class WHost;

void OpenTerminalPort(WHost& w);
void CloseTerminalPort(WHost& w);
bool IsTerminalPortOpen(WHost& w);
void Comm_OnComm(WHost& w);

}  // namespace corvane
