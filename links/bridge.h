// The start and stop buttons of a bridge run.
#pragma once

namespace corvane {

class WHost;

void b_start_Click(WHost& w);
// Safe with nothing open: the close path runs it regardless.
void b_stop_Click(WHost& w);

}  // namespace corvane
