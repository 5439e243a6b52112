#include "app/program_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace corvane {

namespace fs = std::filesystem;

namespace {

// The user's data folder as the XDG base directories name it: $XDG_DATA_HOME when it holds
// an absolute path, else ~/.local/share.
std::string UserDataDir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return xdg;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;  // a service or su without a HOME
    }
    return home + "/.local/share";
}

// Absolute and without "." or ".." parts or a trailing "/", as the folder is shown.
std::string Clean(const std::string& dir) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(dir), ec).lexically_normal();
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string ExecutableDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) return exe.parent_path().string();
    // No /proc: the current folder is the best guess left.
    return fs::current_path(ec).string();
}

std::string ProgramDirFor(const std::string& given, std::string* why) {
    std::string dir = given;
    if (dir.empty()) {
        // A bin folder is shared with other programs: load files and logs go elsewhere.
        const std::string exeDir = ExecutableDir();
        if (fs::path(exeDir).filename() != "bin") {
            if (why) why->clear();
            return exeDir;
        }
        dir = UserDataDir() + "/corvane";
    }
    dir = Clean(dir);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        if (why) *why = "the program folder " + dir + " cannot be made";
        return {};
    }
    if (why) why->clear();
    return dir;
}

}  // namespace corvane
