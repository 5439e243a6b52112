#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <ctime>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "links/engine.h"
#include "logs/text_utils.h"
#include "rig/temp_dir.h"
#include "rig/wait.h"

namespace corvane {
namespace {

TEST(DigitsOnly, KeepsDigitsInOrderAndDropsEverythingElse) {
    EXPECT_EQ(DigitsOnly("com12"), "12");
    EXPECT_EQ(DigitsOnly(""), "");
    EXPECT_EQ(DigitsOnly("abc"), "");
    EXPECT_EQ(DigitsOnly("-1.5"), "15");
    EXPECT_EQ(DigitsOnly("\u0661x9"), "9");  // only the ASCII digits count
}

TEST(Fields, SplitAPortEntryAtTheFirstDelimiter) {
    EXPECT_EQ(FieldBefore("com3:2400,e,7,1", ":"), "com3");
    EXPECT_EQ(FieldAfter("com3:2400,e,7,1", ":"), "2400,e,7,1");
    EXPECT_EQ(FieldBefore("a:b:c", ":"), "a");
    EXPECT_EQ(FieldAfter("a:b:c", ":"), "b:c");
    EXPECT_EQ(FieldAfter("a::b", "::"), "b");
}

TEST(Fields, MissingOrEdgeDelimiters) {
    EXPECT_EQ(FieldBefore("com3", ":"), "com3");
    EXPECT_EQ(FieldAfter("com3", ":"), "");
    EXPECT_EQ(FieldBefore(":x", ":"), "");
    EXPECT_EQ(FieldAfter(":x", ":"), "x");
    EXPECT_EQ(FieldBefore("x:", ":"), "x");
    EXPECT_EQ(FieldAfter("x:", ":"), "");
    EXPECT_EQ(FieldBefore("", ":"), "");
    EXPECT_EQ(FieldAfter("", ":"), "");
    EXPECT_EQ(FieldBefore("COM3", "m"), "COM3");  // case-sensitive
}

TEST(Fields, EmptyDelimiterIsFoundAtTheStart) {
    EXPECT_EQ(FieldBefore("com3:x", ""), "");
    EXPECT_EQ(FieldAfter("com3:x", ""), "com3:x");
}

std::tm Clock(int year, int month, int day, int hour, int minute, int second) {
    std::tm clock{};
    clock.tm_year = year - 1900;
    clock.tm_mon = month - 1;
    clock.tm_mday = day;
    clock.tm_hour = hour;
    clock.tm_min = minute;
    clock.tm_sec = second;
    return clock;
}

TEST(TimeStampOf, ExactFormWithTimerHundredths) {
    const std::tm clock = Clock(2026, 12, 6, 21, 55, 25);
    EXPECT_EQ(TimeStampOf(clock, 78925.45), "12/06/2026 21:55:25.45");
    EXPECT_EQ(TimeStampOf(clock, 78925.0), "12/06/2026 21:55:25.00");
    EXPECT_EQ(TimeStampOf(clock, 78925.004), "12/06/2026 21:55:25.00");
    EXPECT_EQ(TimeStampOf(clock, 78925.984), "12/06/2026 21:55:25.98");
    EXPECT_EQ(TimeStampOf(clock, 78925.987), "12/06/2026 21:55:25.99");
    const std::tm early = Clock(2026, 1, 2, 3, 4, 5);
    EXPECT_EQ(TimeStampOf(early, 0.07), "01/02/2026 03:04:05.07");
}

TEST(TimeStampOf, FractionRoundingToAWholeSecondStaysTwoDigits) {
    const std::tm clock = Clock(2026, 12, 6, 23, 59, 59);
    for (double timer : {86399.995, 86399.996, 86399.999, 0.9999999, 5.995}) {
        EXPECT_EQ(TimeStampOf(clock, timer), "12/06/2026 23:59:59.99") << timer;
    }
}

TEST(TimeStamp, CurrentStampIsAlways22Characters) {
    const std::regex form(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d\d$)");
    for (int i = 0; i < 200; ++i) {
        const std::string stamp = TimeStamp();
        ASSERT_EQ(stamp.size(), 22u) << stamp;
        ASSERT_TRUE(std::regex_match(stamp, form)) << stamp;
    }
}

// ---- the message for the operator ----

// A view that shows every message (answered later by the test) or none.
class MessageViewer : public EngineListener {
  public:
    explicit MessageViewer(bool shows) : shows_(shows) {}
    bool Message(const std::string& text) override {
        seen.push_back(text);
        return shows_;
    }
    void Unloaded() override { unloaded = true; }
    std::vector<std::string> seen;
    bool unloaded = false;

  private:
    bool shows_;
};

class ShowMessageTest : public ::testing::Test {
  protected:
    void SetUp() override { e = std::make_unique<Engine>(io, dir.path()); }
    void TearDown() override { e.reset(); }

    // Says the message as a routine of the engine would; `done` is set once it has returned.
    void Say(const std::string& message, bool& done) {
        done = false;
        asio::co_spawn(
            io,
            [this, message, &done]() -> asio::awaitable<void> {
                co_await ShowMessage(*e, message);
                done = true;
            },
            asio::detached);
    }

    asio::io_context io;
    rig::TempDir dir;
    std::unique_ptr<Engine> e;
};

TEST_F(ShowMessageTest, ReturnsAtOnceWhenNoViewShowsIt) {
    bool done = false;
    Say("nobody listens", done);
    io.poll();  // only what is ready runs: no wait may be involved
    EXPECT_TRUE(done);

    // A view that hears the messages but shows none does not hold the routine either.
    MessageViewer viewer(false);
    e->AddListener(&viewer);
    bool first = false;
    bool second = false;
    Say("Can't open com7:2400,e,7,1", first);
    io.poll();
    Say("", second);
    io.poll();
    e->RemoveListener(&viewer);
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    EXPECT_EQ(viewer.seen, (std::vector<std::string>{"Can't open com7:2400,e,7,1", ""}));
    EXPECT_FALSE(e->MessagePending());
}

TEST_F(ShowMessageTest, WaitsUntilTheShownMessageIsAnswered) {
    MessageViewer quiet(false);
    MessageViewer shows(true);
    e->AddListener(&quiet);
    e->AddListener(&shows);
    bool done = false;
    Say("Can't open com7:2400,e,7,1", done);
    rig::RunFor(io, 100);
    EXPECT_FALSE(done);
    EXPECT_TRUE(e->MessagePending());
    // Both views heard it, each once, whichever of them shows it.
    EXPECT_EQ(quiet.seen, std::vector<std::string>{"Can't open com7:2400,e,7,1"});
    EXPECT_EQ(shows.seen, std::vector<std::string>{"Can't open com7:2400,e,7,1"});

    // Other wake-ups do not end the wait; only the answer does.
    e->Changed.Notify();
    rig::RunFor(io, 50);
    EXPECT_FALSE(done);

    e->MessageAnswered();
    EXPECT_TRUE(rig::RunUntil(
        io, [&] { return done; }, 2000));
    EXPECT_FALSE(e->MessagePending());
    e->RemoveListener(&shows);
    e->RemoveListener(&quiet);
}

TEST_F(ShowMessageTest, TheUnloadEndsAnUnansweredWait) {
    MessageViewer shows(true);
    e->AddListener(&shows);
    bool done = false;
    Say("Can't open com7:2400,e,7,1", done);
    rig::RunFor(io, 50);
    ASSERT_FALSE(done);

    e->Close(false);
    EXPECT_TRUE(rig::RunUntil(
        io, [&] { return done && shows.unloaded; }, 2000));
    EXPECT_TRUE(done);
    EXPECT_FALSE(e->MessagePending());

    // Once unloaded nothing waits for an answer any more.
    bool late = false;
    Say("after the unload", late);
    EXPECT_TRUE(rig::RunUntil(
        io, [&] { return late; }, 2000));
    e->RemoveListener(&shows);
}

}  // namespace
}  // namespace corvane
