#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/program_dir.h"

namespace corvane {

namespace fs = std::filesystem;

std::string ExecutableDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) return exe.parent_path().string();
    // No /proc: the current folder is the best guess left.
    return fs::current_path(ec).string();
}

// A bin folder is shared with other programs.
bool InSharedProgramFolder(const std::string& executableDir) {
    return fs::path(executableDir).filename() == "bin";
}

// The user's data folder as the XDG base directories name it: $XDG_DATA_HOME when it holds
// an absolute path, else ~/.local/share.
std::string UserProgramDir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/corvane";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;  // a service or su without a HOME
    }
    return home + "/.local/share/corvane";
}

}  // namespace corvane
