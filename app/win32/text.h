// Text between the engine (UTF-8, or single bytes where it is not valid UTF-8) and the
// window's controls (UTF-16).
#pragma once

#include <string>
#include <string_view>

namespace corvane::win32 {

// Engine text for a control. Text that is not UTF-8 is taken a character a byte, so that no
// byte is lost to a replacement character.
std::wstring Wide(std::string_view text);
// A control's text for the engine, as UTF-8.
std::string Narrow(std::wstring_view text);

}  // namespace corvane::win32
