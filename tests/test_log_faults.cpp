// A log folder that cannot be written: the panes still fill, the failure is said once, and
// the bridge goes on.
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/bridge_fixture.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::testing;
namespace fs = std::filesystem;

namespace {

// What the program wrote to stderr while it lived; an early return of the test still ends it.
class StderrCapture {
  public:
    StderrCapture() { ::testing::internal::CaptureStderr(); }
    ~StderrCapture() { take(); }
    std::string take() {
        if (taken_) return {};
        taken_ = true;
        return ::testing::internal::GetCapturedStderr();
    }

  private:
    bool taken_ = false;
};

}  // namespace

class LogFaults : public BridgeTest {
  protected:
    // Runs one of the engine's routines to its end (bounded), as its caller would.
    bool Call(Engine& engine, asio::awaitable<void> (*routine)(Engine&), int ms = 35000) {
        auto done = std::make_shared<bool>(false);
        engine.Spawn([&engine, routine, done]() -> asio::awaitable<void> {
            co_await routine(engine);
            *done = true;
        });
        return Run([done] { return *done; }, ms);
    }
};

TEST_F(LogFaults, ALogFolderThatCannotBeWrittenStillFillsThePanes) {
    struct Obstacle {
        const char* what;
        std::function<bool(const std::string& programDir)> make;
    };
    const std::vector<Obstacle> obstacles = {
        {"log is a file",
         [](const std::string& d) {
             std::ofstream f(d + "/log", std::ios::binary);
             f << "not a folder";
             return static_cast<bool>(f);
         }},
        {"log/000.txt is a folder",
         [](const std::string& d) { return fs::create_directories(d + "/log/000.txt"); }},
        // Even root cannot make files in /proc.
        {"log is /proc",
         [](const std::string& d) {
             std::error_code ec;
             fs::create_symlink("/proc", d + "/log", ec);
             return !ec;
         }},
    };
    for (const Obstacle& o : obstacles) {
        SCOPED_TRACE(o.what);
        rig::TempDir programDir;
        ASSERT_TRUE(o.make(programDir.path()));
        StderrCapture stderrText;
        auto engine = std::make_unique<Engine>(io, programDir.path());
        rig::PtyTerminal line(io, programDir.path(), 1);
        ChooseHost(*engine, "Ludric", host->port());
        engine->SetLogToFile(true);

        engine->LampDoubleClick(false);
        ASSERT_TRUE(Run([&] { return engine->View().lampRS232 == LampUp; }));
        engine->LampDoubleClick(true);
        ASSERT_TRUE(Run([&] { return engine->View().lampSSL == LampUp; }));
        ASSERT_TRUE(IsHostConnected(*engine));
        ASSERT_TRUE(host->waitForConnection(5000));
        host->closeConnection();
        ASSERT_TRUE(Run([&] { return !IsHostConnected(*engine); }));
        Settle(50);

        std::vector<std::string> entries;
        const std::string& pane = engine->View().commPane;
        for (std::size_t at = 0; at < pane.size();) {
            std::size_t end = pane.find('\n', at);
            if (end == std::string::npos) end = pane.size();
            if (end > at) entries.push_back(pane.substr(at, end - at));
            at = end + 1;
        }
        ASSERT_GE(entries.size(), 3u);  // connecting, connected, disconnected
        EXPECT_NE(entries.back().find("Disconnected from"), std::string::npos) << entries.back();
        EXPECT_EQ(CountOf(engine->View().dataPane, "\u00F9\u00F9"), entries.size());
        const std::string fileLog = programDir.path() + "/log/000.txt";
        EXPECT_FALSE(fs::exists(fileLog) && fs::is_regular_file(fileLog));

        // The bridge goes on.
        ASSERT_TRUE(Call(*engine, OpenHost));
        ASSERT_TRUE(IsHostConnected(*engine));
        line.send("ok");
        ASSERT_TRUE(host->waitForBytes(2, 5000));
        EXPECT_EQ(host->takeReceived(), "ok");
        engine.reset();
        // A log that cannot be written is reported once, not per entry.
        EXPECT_LE(CountOf(stderrText.take(), "Cannot write the log file"), 1u);
    }
}
