// The engine opens its files by narrow names (the ANSI code page), so the folders are read
// in it too.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/program_dir.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// For comparing folders as Windows does: case and the separator's spelling do not count.
std::string Folded(const std::string& path) {
    std::string s = fs::path(path).lexically_normal().string();
    std::replace(s.begin(), s.end(), '/', '\\');
    while (s.size() > 3 && s.back() == '\\') s.pop_back();
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

std::string ExecutableDir() {
    std::vector<char> name(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) break;
        if (n < name.size()) return fs::path(std::string(name.data(), n)).parent_path().string();
        name.resize(name.size() * 2);  // cut short: a longer path
    }
    std::error_code ec;
    return fs::current_path(ec).string();
}

// Program Files wants an administrator to write in it: an installed copy keeps its files
// with the user.
bool InSharedProgramFolder(const std::string& executableDir) {
    const std::string dir = Folded(executableDir);
    for (const char* name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
        const std::string value = Environment(name);
        if (value.empty()) continue;
        const std::string root = Folded(value);
        if (dir == root || dir.rfind(root + "\\", 0) == 0) return true;
    }
    return false;
}

std::string UserProgramDir() {
    std::string appData = Environment("APPDATA");
    if (appData.empty()) {
        const std::string profile = Environment("USERPROFILE");
        appData = profile.empty() ? ExecutableDir() : profile + "\\AppData\\Roaming";
    }
    return appData + "\\Corvane";
}

}  // namespace corvane
