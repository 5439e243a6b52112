#include "app/program_dir.h"

#include <filesystem>
#include <system_error>

namespace corvane {

namespace fs = std::filesystem;

namespace {

// Absolute and without "." or ".." parts or a trailing separator, as the folder is shown; a
// root ("/", "C:\") keeps its separator.
std::string Clean(const std::string& dir) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(dir), ec).lexically_normal();
    while (p.has_relative_path() && !p.has_filename()) p = p.parent_path();
    return p.string();
}

}  // namespace

std::string ProgramDirFor(const std::string& given, std::string* why) {
    std::string dir = given;
    if (dir.empty()) {
        const std::string exeDir = ExecutableDir();
        if (!InSharedProgramFolder(exeDir)) {
            if (why) why->clear();
            return exeDir;
        }
        dir = UserProgramDir();
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
