// corvane.exe: the window, and with --headless a bridge run without one, with the options,
// messages and exit statuses of corvane-headless on Linux. It is a GUI program, so that the
// window starts without a console beside it; a run without a window takes a console.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/headless.h"
#ifdef CORVANE_WIN32_WINDOW
#include "app/win32/window.h"
#endif

namespace {

void Print(std::FILE* to, const std::string& text) {
    std::fputs(text.c_str(), to);
    std::fflush(to);
}

bool Redirected(DWORD which) {
    const HANDLE h = ::GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_UNKNOWN;
}

// The console of a run without a window: the one it was started from; for a headless run
// that has none, one of its own (a console program started from the desktop gets one too), so
// that Ctrl-C, Ctrl-Break and the console's close reach it and end it in order. Streams the
// parent redirected stay where they go; a console of its own whose output goes elsewhere is
// there for the events only and is not shown.
void UseConsole(bool ownIfNone) {
    const bool out = Redirected(STD_OUTPUT_HANDLE);
    const bool err = Redirected(STD_ERROR_HANDLE);
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (!ownIfNone || !::AllocConsole()) return;
        if (out && err) {
            if (const HWND window = ::GetConsoleWindow()) ::ShowWindow(window, SW_HIDE);
        }
    }
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    if (arguments.empty()) arguments.emplace_back("corvane");
    const corvane::CommandLine options = corvane::ParseCommandLine(arguments);
    using Mode = corvane::CommandLine::Mode;
    if (options.mode != Mode::Window) UseConsole(options.mode == Mode::Headless);
    switch (options.mode) {
        case Mode::Help:
        case Mode::Version:
            Print(stdout, options.text);
            return 0;
        case Mode::Error:
            Print(stderr, "corvane: " + options.text + "\nTry corvane --help.\n");
            return 2;
        case Mode::Headless:
            return corvane::RunHeadless(options);
        case Mode::Window:
            break;
    }
#ifdef CORVANE_WIN32_WINDOW
    return corvane::win32::RunWindow(options);
#else
    UseConsole(false);
    Print(stderr, "corvane: this build has no window: run corvane --headless\n");
    return 2;
#endif
}
