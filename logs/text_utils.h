// Small stateless text routines, and the one message of the program for the operator.
#pragma once

#include <asio/awaitable.hpp>
#include <ctime>
#include <string>

namespace corvane {

class Engine;

// The text without the blanks (spaces, tabs, line ends, vertical tabs, form feeds) at either
// end.
std::string Trimmed(const std::string& text);
// The characters 0 to 9 of the text, in order.
std::string DigitsOnly(const std::string& text);
// The part before the first delimiter; the whole text when there is none; "" for an empty
// delimiter.
std::string FieldBefore(const std::string& text, const std::string& delimiter);
// The part after the first delimiter; "" when there is none; the whole text for an empty
// delimiter.
std::string FieldAfter(const std::string& text, const std::string& delimiter);

// "MM/DD/YYYY HH:MM:SS.hh", always 22 characters, of the current local time.
std::string TimeStamp();
// The same for a given local clock reading and a timer reading in seconds since midnight,
// whose fraction gives the hundredths (a fraction that rounds up to a whole second shows .99).
std::string TimeStampOf(const std::tm& clock, double timerSeconds);

// Tells the operator the message (the window shows its box titled "Orvalle Information") and
// returns when the box is answered, the engine unloads, or at once when no view shows it.
asio::awaitable<void> ShowMessage(Engine& e, std::string message);

}  // namespace corvane
