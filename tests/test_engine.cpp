// The engine as its views see it: changes told once per handler, the message a view answers,
// the close's order, and an engine that goes while its routines still wait.
#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>

#include "links/engine.h"
#include "links/wakeup.h"
#include "rig/temp_dir.h"
#include "rig/wait.h"
#include "tests/bridge_fixture.h"

namespace corvane {
namespace {

using testing::BridgeTest;

struct Watcher : EngineListener {
    void ViewChanged(const EngineView& view) override { views.push_back(view); }
    void CommLogLine(const std::string& line) override { lines.push_back(line); }
    bool Message(const std::string& text) override {
        messages.push_back(text);
        return answers;
    }
    void Unloaded() override { ++unloads; }
    std::vector<EngineView> views;
    std::vector<std::string> lines;
    std::vector<std::string> messages;
    bool answers = false;
    int unloads = 0;
};

TEST(Wakeup, WakesEveryWaiterOnceAndTimesOut) {
    asio::io_context io;
    Wakeup wakeup(io);
    int woken = 0;
    bool timedOut = false;
    for (int i = 0; i < 3; ++i) {
        asio::co_spawn(
            io,
            [&]() -> asio::awaitable<void> {
                co_await wakeup.Wait();
                ++woken;
            },
            asio::detached);
    }
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            timedOut = !co_await wakeup.WaitFor(std::chrono::milliseconds(20));
        },
        asio::detached);
    io.poll();
    EXPECT_EQ(woken, 0);
    rig::RunUntil(
        io, [&] { return timedOut; }, 2000);
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(woken, 0);
    wakeup.Notify();
    rig::RunUntil(
        io, [&] { return woken == 3; }, 2000);
    EXPECT_EQ(woken, 3);
    wakeup.Notify();  // nobody waits: nothing happens
    io.poll();
    EXPECT_EQ(woken, 3);
}

TEST(Engine, ChangesOfOneHandlerReachListenersOnceAndOnlyWhenTheyDiffer) {
    asio::io_context io;
    rig::TempDir dir;
    Engine e(io, dir.path());
    Watcher watcher;
    e.AddListener(&watcher);
    e.Show().milestone = "A";
    e.Show().loginMode = "next";
    e.Show().milestone = "B";
    EXPECT_TRUE(watcher.views.empty());  // told once the handler is done
    rig::RunFor(io, 20);
    ASSERT_EQ(watcher.views.size(), 1u);
    EXPECT_EQ(watcher.views[0].milestone, "B");
    EXPECT_EQ(watcher.views[0].loginMode, "next");
    e.Show().milestone = "B";  // no difference: no call
    rig::RunFor(io, 20);
    EXPECT_EQ(watcher.views.size(), 1u);
    e.ChooseSystem("Ludric:localhost:8105:@cyberserv.org:8005");
    rig::RunFor(io, 20);
    ASSERT_EQ(watcher.views.size(), 2u);
    EXPECT_EQ(watcher.views[1].hostName, "Ludric");
    EXPECT_EQ(watcher.views[1].hostUrl, "localhost");
    EXPECT_EQ(watcher.views[1].hostSocket, "8105");
    e.RemoveListener(&watcher);
}

TEST(Engine, ChooseSystemTakesMissingFieldsAsEmpty) {
    asio::io_context io;
    rig::TempDir dir;
    Engine e(io, dir.path());
    e.ChooseSystem("solo");
    EXPECT_EQ(e.View().hostName, "solo");
    EXPECT_EQ(e.View().hostUrl, "");
    EXPECT_EQ(e.View().hostSocket, "");
    e.ChooseSystem("a:b");
    EXPECT_EQ(e.View().hostUrl, "b");
    EXPECT_EQ(e.View().hostSocket, "");
}

TEST_F(BridgeTest, AMessageTheViewAnswersHoldsTheStartUntilItIsAnswered) {
    Watcher watcher;
    watcher.answers = true;
    e->AddListener(&watcher);
    e->ChoosePortEntry("com96:2400,e,7,1");
    bool done = false;
    e->Start([&done] { done = true; });
    ASSERT_TRUE(Run([&] { return !watcher.messages.empty(); }));
    EXPECT_EQ(watcher.messages[0], "Can't open com96:2400,e,7,1");
    Settle(100);
    EXPECT_FALSE(done);  // the routine waits as behind a modal box
    EXPECT_FALSE(e->View().statusLineEnabled);
    e->MessageAnswered();
    ASSERT_TRUE(Run([&] { return done; }));
    // After the box, the start goes on as the button's routine does.
    EXPECT_TRUE(e->View().statusLineEnabled);
    e->RemoveListener(&watcher);
}

TEST_F(BridgeTest, TheOperatorsCloseStopsInOrderThenUnloadsOnce) {
    Watcher watcher;
    e->AddListener(&watcher);
    e->SetResidentLoaded(true);
    Start();
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    ASSERT_TRUE(IsHostConnected(*e));
    e->Close(true);
    ASSERT_TRUE(Run([&] { return watcher.unloads == 1; }));
    EXPECT_TRUE(e->bUnloaded);
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_EQ(e->View().statusLine, "HOST NOT CONNECTED");
    EXPECT_EQ(e->View().lampRS232, LampDown);
    EXPECT_EQ(e->View().lampSSL, LampDown);
    e->Close(true);  // a second close does nothing
    Settle(50);
    EXPECT_EQ(watcher.unloads, 1);
    e->RemoveListener(&watcher);
}

TEST_F(BridgeTest, ACloseFromElsewhereUnloadsWithoutTheStop) {
    Watcher watcher;
    e->AddListener(&watcher);
    e->SetResidentLoaded(true);
    Start();
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    e->Close(false);
    ASSERT_TRUE(Run([&] { return watcher.unloads == 1; }));
    // No stop ran: the lamps and the status line stay as the run left them.
    EXPECT_EQ(e->View().lampRS232, LampUp);
    EXPECT_NE(e->View().statusLine, "HOST NOT CONNECTED");
    EXPECT_FALSE(IsTerminalPortOpen(*e));  // the unload still lets go of the port
    e->RemoveListener(&watcher);
}

TEST_F(BridgeTest, AnEngineDestroyedWhileItsStartWaitsEndsItsRoutines) {
    bool done = false;
    e->Start([&done] { done = true; });
    ASSERT_TRUE(Run([&] { return e->nLoadFileRequest == -1; }));
    e->RemoveListener(&recorder);
    e.reset();  // the start waits for the load request
    EXPECT_TRUE(done);
    io.poll();
}

}  // namespace
}  // namespace corvane
