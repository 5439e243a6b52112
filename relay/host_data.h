// Everything the host sends, on its way to the terminal.
#pragma once

#include <string>

namespace corvane {

class Engine;

void SSL_DataIn(Engine& e, const std::string& text, bool endOfLine);

// Undoes the 0xFF doubling of one event: a doubled 0xFF becomes one, a lone 0xFF goes;
// `pending` carries an unpaired 0xFF into the next event.
std::string CleanIac(const std::string& text, bool& pending);

}  // namespace corvane
