// The rig's temporary folder (rig/temp_dir.h) on Windows, for the tests cross-built for it.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "rig/temp_dir.h"

namespace corvane::rig {

TempDir::TempDir() {
    char base[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary folder");
    static std::atomic<unsigned> made{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = std::string(base) + "corvane-" +
                                 std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(::GetTickCount64()) + "-" + std::to_string(++made);
        if (::CreateDirectoryA(path.c_str(), nullptr)) {
            path_ = path;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("no temporary folder: error " + std::to_string(::GetLastError()));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace corvane::rig
