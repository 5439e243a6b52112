#include <cstdio>
#include <exception>
#include <string>

#include "app/command_line.h"
#include "app/program_dir.h"
#include "app/win32/main_window.h"
#include "app/win32/message_loop.h"
#include "app/win32/remembered_settings.h"
#include "app/win32/text.h"
#include "app/win32/window.h"
#include "app/win32/windows_api.h"

namespace corvane::win32 {

namespace {

// The window that a console's Ctrl-C or close asks to close.
HWND g_window = nullptr;

void Print(std::FILE* to, const std::string& text) {
    std::fputs(text.c_str(), to);
    std::fflush(to);
}

// Said on the console when there is one, and in a box: a window program often has none.
void Fail(const std::string& text) {
    Print(stderr, "corvane: " + text + "\n");
    MessageBoxW(nullptr, Wide(text).c_str(), L"Corvane", MB_OK | MB_ICONERROR);
}

// Pixels, not the platform's scaling: the layout is computed at the window's own dots per inch.
void BeDpiAware() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    HMODULE user = GetModuleHandleW(L"user32.dll");
    const auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (setContext && setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;
    SetProcessDPIAware();
}

// A console's Ctrl-C, Ctrl-Break or close closes the window as the platform does: without
// the operator's stop; a second one while the close runs ends the program at once.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (g_window) PostMessageW(g_window, kPlatformClose, 0, 0);
    return TRUE;
}

}  // namespace

int RunWindow(const CommandLine& options) {
    std::string why;
    const std::string programDir = ProgramDirFor(options.programDir, &why);
    if (!why.empty()) {
        Fail(why);
        return 2;
    }

    BeDpiAware();
    InitControlsLibrary();

    try {
        MainWindow window(programDir);
        const std::wstring file = RememberedSettingsFile();
        if (!options.fresh) {
            for (const std::string& line : RestoreOperatorSettings(window, ReadSettingsFile(file)))
                Print(stderr, "corvane: " + line + "\n");
        }
        // The stop and the unload leave the controls as the operator left them.
        auto save = [&window, &file] {
            if (!WriteSettingsFile(file, OperatorSettings(window)))
                Print(stderr, "corvane: the settings could not be kept for the next run\n");
        };
        window.BeforeSessionEnd = save;
        g_window = window.Handle();
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
        ShowWindow(window.Handle(), SW_SHOWNORMAL);
        UpdateWindow(window.Handle());

        const int status = RunMessageLoop(window.Handle());
        SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
        g_window = nullptr;
        save();
        return status;
    } catch (const std::exception& e) {
        Fail(e.what());
        return 1;
    }
}

}  // namespace corvane::win32
