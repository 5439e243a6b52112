// The operator's hand-typed bytes: the "to Host" and "to Term" rows of the monitor.
#pragma once

#include <optional>
#include <string>

namespace corvane {

class Engine;

// A line of two-digit hex values separated by single blanks ("1b 77 63"), either case; no
// value for anything else. An empty line is no bytes.
std::optional<std::string> ParseHexLine(const std::string& text);

// The bytes of the line to the terminal (when its port is open) and to the host (when it is
// connected); a line that is not hex sends nothing.
void b_term_Click(Engine& e, const std::string& hexLine);
void b_host_Click(Engine& e, const std::string& hexLine);

}  // namespace corvane
