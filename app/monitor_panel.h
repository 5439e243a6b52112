// The monitor toggle and the two manual send rows.
#pragma once

namespace corvane {

class WHost;

// Widens or narrows the window; the window's own business, nothing reaches the engine.
void b_ShowMonitor_Click(WHost& w);
// Hand the text of t_term and t_host to the engine, which reads the bytes out of it and sends
// them when its link is up.
void b_term_Click(WHost& w);
void b_host_Click(WHost& w);

}  // namespace corvane
