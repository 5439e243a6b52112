// The window thread's message loop, whole or for a bounded while.
#pragma once

#include <functional>
#include <optional>

#include "app/win32/windows_api.h"

namespace corvane::win32 {

// Runs the loop until it is told to end (WM_QUIT); returns the status it was told. Keyboard
// navigation between the controls of `window` (Tab, the arrows in a group) is the loop's.
int RunMessageLoop(HWND window);
// Handles messages until `done` says so (true), at most timeoutMs; false when the time ran
// out or the loop was told to end, which it then still is (the quit is posted again).
bool HandleMessagesUntil(HWND window, const std::function<bool()>& done, int timeoutMs);
// Runs the loop for at most timeoutMs: the status once it was told to end, else none.
std::optional<int> RunMessageLoopFor(HWND window, int timeoutMs);

}  // namespace corvane::win32
