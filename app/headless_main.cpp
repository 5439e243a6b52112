// corvane-headless: a bridge run without a window, on the engine alone. `corvane
// --headless` hands over to it with the same arguments, so --headless is taken as given.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/headless.h"
#include "app/systemd_notify.h"

namespace {

void Print(std::FILE* to, const std::string& text) {
    std::fputs(text.c_str(), to);
    std::fflush(to);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    if (arguments.empty()) arguments.emplace_back("corvane-headless");
    // Given once more, --headless changes nothing; without it, this program's options are
    // still those of a headless run.
    arguments.insert(arguments.begin() + 1, "--headless");
    const corvane::CommandLine options = corvane::ParseCommandLine(arguments);
    using Mode = corvane::CommandLine::Mode;
    switch (options.mode) {
        case Mode::Help:
        case Mode::Version:
            Print(stdout, options.text);
            return 0;
        case Mode::Error:
            Print(stderr, "corvane: " + options.text + "\nTry corvane-headless --help.\n");
            return 2;
        case Mode::Headless:
        case Mode::Window:  // cannot be: --headless is always there
            break;
    }
    // Under systemd (Type=notify) the run reports to it; elsewhere nothing listens.
    return corvane::RunHeadless(options, corvane::SystemdNotice());
}
