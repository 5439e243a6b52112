#include "app/win32/message_loop.h"

namespace corvane::win32 {

namespace {

void Dispatch(HWND window, MSG& msg) {
    if (window && IsDialogMessageW(window, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

// Handles what is queued; the quit's status when it came.
std::optional<int> HandleQueued(HWND window, const std::function<bool()>& done) {
    MSG msg;
    while ((!done || !done()) && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
        Dispatch(window, msg);
    }
    return std::nullopt;
}

// Waits for a message at most until `deadline`; false once it has passed.
bool WaitUntil(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    return true;
}

}  // namespace

int RunMessageLoop(HWND window) {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);
        if (got < 0) return 1;
        Dispatch(window, msg);
    }
}

bool HandleMessagesUntil(HWND window, const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (const std::optional<int> quit = HandleQueued(window, done)) {
            PostQuitMessage(*quit);
            return false;
        }
        if (done()) return true;
        if (!WaitUntil(deadline)) return done();
    }
}

std::optional<int> RunMessageLoopFor(HWND window, int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (const std::optional<int> quit = HandleQueued(window, nullptr)) return quit;
        if (!WaitUntil(deadline)) return std::nullopt;
    }
}

}  // namespace corvane::win32
