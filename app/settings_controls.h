// The settings the operator makes before start: host system, terminal kind, resident state,
// the chunk delay, and logging to the file. Each handler keeps the dependent controls as
// before and hands the choice to the engine, whose routines read it there.
#pragma once

namespace corvane {

class WHost;

void cboSystem_Click(WHost& w);
void cboResident_Click(WHost& w);
void chkIsResidentLoaded_Click(WHost& w);
void t_blockdelay_Change(WHost& w);
void ud_blockdelay_Change(WHost& w);
void t_blockdelay_GotFocus(WHost& w);
void x_log_Click(WHost& w);

}  // namespace corvane
