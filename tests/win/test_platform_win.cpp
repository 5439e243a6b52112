// The Windows halves of the platform bits: the program's folder, the keeper's look for a port's
// device, and the requests to end the program.
#include <gtest/gtest.h>
#include <windows.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/program_dir.h"
#include "app/termination_signals.h"
#include "links/unattended_internal.h"
#include "rig/temp_dir.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one test and puts the old value back after it.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        _putenv_s(name, value.c_str());
    }
    ~ScopedEnvironment() { _putenv_s(name_, old_.c_str()); }

  private:
    const char* name_;
    std::string old_;
};

}  // namespace

TEST(ProgramDirWin, AProgramUnderProgramFilesKeepsItsFilesInTheUsersApplicationData) {
    ScopedEnvironment files("ProgramFiles", "C:\\Program Files");
    ScopedEnvironment x86("ProgramFiles(x86)", "C:\\Program Files (x86)");
    EXPECT_TRUE(InSharedProgramFolder("C:\\Program Files\\Corvane"));
    EXPECT_TRUE(InSharedProgramFolder("c:/program files (x86)/corvane/bin/"));
    EXPECT_TRUE(InSharedProgramFolder("C:\\Program Files"));
    // A neighbour whose name only begins the same is not inside.
    EXPECT_FALSE(InSharedProgramFolder("C:\\Program Files Extra\\Corvane"));
    EXPECT_FALSE(InSharedProgramFolder("D:\\Terminals\\Corvane"));
    EXPECT_FALSE(InSharedProgramFolder("C:\\"));

    ScopedEnvironment appData("APPDATA", "C:\\Users\\op\\AppData\\Roaming");
    EXPECT_EQ(UserProgramDir(), "C:\\Users\\op\\AppData\\Roaming\\Corvane");
}

TEST(ProgramDirWin, AGivenFolderIsMadeAndShownWithoutATrailingSeparatorButARootKeepsIt) {
    rig::TempDir dir;
    std::string why = "unset";
    const std::string made = ProgramDirFor(dir.path() + "\\a\\.\\b\\..\\c\\", &why);
    EXPECT_TRUE(why.empty()) << why;
    EXPECT_EQ(made, fs::path(dir.path() + "\\a\\c").lexically_normal().string());
    EXPECT_TRUE(fs::is_directory(made));

    const std::string root = fs::path(dir.path()).root_path().string();
    EXPECT_EQ(ProgramDirFor(root, &why), root);
    EXPECT_TRUE(why.empty()) << why;

    std::ofstream(dir.path() + "\\a-file") << "not a folder";
    EXPECT_EQ(ProgramDirFor(dir.path() + "\\a-file\\log", &why), "");
    EXPECT_NE(why.find("cannot be made"), std::string::npos) << why;
}

TEST(ProgramDirWin, WithoutAFolderGivenItIsTheExecutablesOwn) {
    std::string why = "unset";
    const std::string dir = ProgramDirFor("", &why);
    EXPECT_TRUE(why.empty()) << why;
    char name[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(nullptr, name, MAX_PATH), 0u);
    EXPECT_EQ(dir, fs::path(name).parent_path().string());
    EXPECT_EQ(ExecutableDir(), dir);
}

TEST(DeviceMissingWin, ACommPortIsAskedOfItsDeviceNameAndAFileOfItsFolder) {
    // No machine maps COM200; the look must not take it for a file name.
    EXPECT_TRUE(DeviceMissing("\\\\.\\COM200"));
    EXPECT_TRUE(DeviceMissing("COM200"));
    // Nothing named is nothing missing: the entry gives no device.
    EXPECT_FALSE(DeviceMissing(""));

    rig::TempDir dir;
    const std::string file = dir.path() + "\\device";
    EXPECT_TRUE(DeviceMissing(file));
    EXPECT_TRUE(DeviceMissing(dir.path() + "\\gone\\device"));
    std::ofstream(file) << "";
    EXPECT_FALSE(DeviceMissing(file));
}

TEST(PathWatchWin, WatchesNothingSoTheKeeperLooksOnItsTimer) {
    asio::io_context io;
    int changes = 0;
    PathWatch watch(io, [&] { ++changes; });
    rig::TempDir dir;
    EXPECT_FALSE(watch.Watch({dir.path() + "\\ports\\com1", "\\\\.\\COM1"}));
    watch.Stop();
    EXPECT_EQ(changes, 0);
}

TEST(TerminationSignalsWin, SigtermRunsTheHandlerOnTheContextOncePerSignal) {
    asio::io_context io;
    int handled = 0;
    OnTerminationSignals(io, [&] {
        ++handled;
        if (handled == 2) io.stop();
    });
    std::raise(SIGTERM);
    std::raise(SIGTERM);
    EXPECT_EQ(handled, 0);  // not inside the signal handler
    io.run_for(std::chrono::seconds(10));
    EXPECT_EQ(handled, 2);
}
