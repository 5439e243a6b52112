// The start held or ended at each of its waits: the port's message, the terminal's load
// request, the host's connection; by the operator's answer, a stop, a close, the engine's end.
#include <chrono>
#include <fstream>

#include "resident/loader.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

// A view as the window is one: it hears every published view and the unload, and may keep
// the port's message up until the test answers it.
class ViewWatcher : public EngineListener {
  public:
    void ViewChanged(const EngineView& view) override {
        if (unloads > 0) ++heardAfterUnload;
        last = view;
    }
    void CommLogLine(const std::string& /*line*/) override {
        if (unloads > 0) ++heardAfterUnload;
    }
    bool Message(const std::string& text) override {
        if (unloads > 0) ++heardAfterUnload;
        shown.push_back(text);
        return answerLater;
    }
    void LinksChanged() override {
        if (unloads > 0) ++heardAfterUnload;
    }
    void Unloaded() override {
        ++unloads;
        atUnload = last;
    }

    bool answerLater = false;
    std::vector<std::string> shown;
    EngineView last;
    EngineView atUnload;  // the last view published before the unload
    int unloads = 0;
    int heardAfterUnload = 0;
};

using Clock = std::chrono::steady_clock;

}  // namespace

class BridgeStop : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        e->AddListener(&watcher);
        // No load is asked for here: a pause of the loader would be one.
        e->Sleep = [this](int) -> asio::awaitable<void> {
            ++sleeps;
            co_return;
        };
    }
    void TearDown() override {
        e->RemoveListener(&watcher);
        BridgeTest::TearDown();
    }

    // The start, up to its wait for the terminal's request.
    void StartToTheRequest() {
        e->Start([this] { done = true; });
        ASSERT_TRUE(Run([this] { return e->nLoadFileRequest == -1; }));
        ASSERT_TRUE(IsTerminalPortOpen(*e));
        Settle(100);
        ASSERT_FALSE(done);
    }

    // The port's message held up by the watcher, the start waiting for its answer.
    void StartToTheMessage() {
        watcher.answerLater = true;
        e->ChoosePortEntry("com96:2400,e,7,1");
        e->Start([this] { done = true; });
        ASSERT_TRUE(Run([this] { return !watcher.shown.empty(); }));
        EXPECT_EQ(watcher.shown, std::vector<std::string>{"Can't open com96:2400,e,7,1"});
        Settle(100);
        ASSERT_FALSE(done);
    }

    ViewWatcher watcher;
    int sleeps = 0;
    bool done = false;     // the start's
    bool stopped = false;  // the stop's
};

TEST_F(BridgeStop, StartWithAPortThatCannotBeOpenedRunsTheRestAtOnce) {
    e->ChoosePortEntry("com96:2400,e,7,1");
    Start();
    EXPECT_EQ(messages(), std::vector<std::string>{"Can't open com96:2400,e,7,1"});
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampDown);
    EXPECT_TRUE(e->View().statusLineEnabled);
    EXPECT_EQ(e->View().statusLine, "");
    EXPECT_TRUE(e->View().chunkDelayEnabled);  // woken up again without a host
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(e->sToHost, "\r\r");
}

// The operator's box holds the start as a modal box did: nothing after the open runs until
// the box is answered.
TEST_F(BridgeStop, TheMessageOfAPortThatCannotBeOpenedHoldsTheStartUntilAnswered) {
    StartToTheMessage();
    EXPECT_TRUE(e->MessagePending());
    EXPECT_FALSE(e->View().statusLineEnabled);
    EXPECT_EQ(e->View().statusLine, "HOST NOT CONNECTED");
    EXPECT_TRUE(e->sToHost.empty());

    e->MessageAnswered();
    ASSERT_TRUE(Run([this] { return done; }));
    EXPECT_FALSE(e->MessagePending());
    EXPECT_EQ(watcher.shown.size(), 1u);
    EXPECT_TRUE(e->View().statusLineEnabled);
    EXPECT_EQ(e->View().statusLine, "");
    EXPECT_TRUE(e->View().chunkDelayEnabled);
    EXPECT_EQ(e->sToHost, "\r\r");
    EXPECT_EQ(host->connectionCount(), 0);
}

// The stop ends the start's wait, and the start's rest must not paint over what the stop
// showed.
TEST_F(BridgeStop, AStopDuringTheWaitForTheRequestEndsTheStartWithTheStopsState) {
    StartToTheRequest();
    ASSERT_FALSE(e->View().chunkDelayEnabled);
    const Clock::time_point began = Clock::now();
    e->Stop([this] { stopped = true; });
    ASSERT_TRUE(Run([&] { return done && stopped; }, 10000));
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(10));
    Settle(100);
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(LinkLampColor(*e, "SSL"), LampDown);  // the host was never connected
    EXPECT_EQ(sleeps, 0);                           // no load
    const EngineView& v = e->View();
    EXPECT_EQ(v.statusLine, "HOST NOT CONNECTED");
    EXPECT_FALSE(v.statusLineEnabled);
    EXPECT_TRUE(v.chunkDelayEnabled);
    EXPECT_TRUE(v.startEnabled);
    EXPECT_FALSE(v.stopEnabled);
    EXPECT_TRUE(v.portEntryEnabled);
    EXPECT_EQ(v.lampRS232, LampDown);
    EXPECT_EQ(v.milestone, "");
    EXPECT_EQ(watcher.last, v);  // and that is what the window shows

    // Nothing of the ended start is left over: the next one runs its whole course.
    e->SetResidentLoaded(true);
    Start();
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_EQ(e->View().milestone, "D");
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->received(), "\r\r");
}

TEST_F(BridgeStop, ClosingTheWindowDuringTheWaitForTheRequestEndsIt) {
    StartToTheRequest();
    const Clock::time_point began = Clock::now();
    e->Close(true);
    ASSERT_TRUE(Run([&] { return done && e->bUnloaded; }, 10000));
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(10));
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(watcher.unloads, 1);
}

TEST_F(BridgeStop, ClosingTheWindowWithBothLinksUpClosesBoth) {
    e->SetResidentLoaded(true);
    Start();
    ASSERT_TRUE(IsHostConnected(*e));
    e->Close(true);
    ASSERT_TRUE(Run([this] { return e->bUnloaded; }));
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    EXPECT_EQ(e->View().milestone, "A");  // port closed first, then the host
    EXPECT_EQ(watcher.atUnload.milestone, "A");
}

// The window's close while the port's message is up: the close ends the message's wait, the
// stop runs to its end (the host closed) and only then the engine unloads.
TEST_F(BridgeStop, ACloseWhileThePortsMessageIsUpEndsItsWaitStopsInOrderAndUnloads) {
    e->LampDoubleClick(true);
    ASSERT_TRUE(Run([this] { return e->View().lampSSL == LampUp; }));
    ASSERT_TRUE(host->waitForConnection(5000));
    StartToTheMessage();
    EXPECT_TRUE(IsHostConnected(*e));

    e->Close(true);
    ASSERT_TRUE(Run([&] { return done && e->bUnloaded; }, 10000));
    EXPECT_FALSE(e->MessagePending());
    EXPECT_EQ(watcher.shown.size(), 1u);
    EXPECT_EQ(watcher.unloads, 1);
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    // The stop's state, not the start's, is what the window keeps.
    EXPECT_EQ(e->View().statusLine, "HOST NOT CONNECTED");
    EXPECT_FALSE(e->View().statusLineEnabled);
    EXPECT_TRUE(e->View().chunkDelayEnabled);
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    // The stop had run to its end when the unload came.
    EXPECT_EQ(watcher.atUnload.statusLine, "HOST NOT CONNECTED");
    EXPECT_EQ(watcher.atUnload.lampSSL, LampDown);
    EXPECT_EQ(watcher.atUnload.milestone, "A");
    Settle(200);
    EXPECT_EQ(watcher.heardAfterUnload, 0);
    EXPECT_EQ(host->connectionCount(), 1);
}

// Two closes reach the engine while the stop's own CloseHost waits: the first stops and
// unloads, the second finds it closing.
TEST_F(BridgeStop, TwoClosesDuringTheStopsCloseHostUnloadOnce) {
    OpenBothByLamps();
    e->Stop([this] { stopped = true; });
    e->Close(true);
    e->Close(true);
    ASSERT_TRUE(Run([&] { return stopped && e->bUnloaded; }, 10000));
    Settle(200);
    EXPECT_EQ(watcher.unloads, 1);
    EXPECT_EQ(watcher.heardAfterUnload, 0);
    EXPECT_FALSE(e->sTimerActive);
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_TRUE(host->waitForDisconnect(5000));
    EXPECT_EQ(host->connectionCount(), 1);
}

// The engine destroyed while a routine of its waits: the wait ends, the routine returns, and
// the engine goes at once, leaving nothing behind that runs against it.
class EngineEnd : public BridgeTest {
  protected:
    // Destroys the engine; how long that took. A fresh one takes its place for the teardown.
    Clock::duration Destroy() {
        e->RemoveListener(&recorder);
        const Clock::time_point began = Clock::now();
        e.reset();
        const Clock::duration took = Clock::now() - began;
        terminal->followFraming(nullptr);
        e = std::make_unique<Engine>(io, dir.path());
        e->AddListener(&recorder);
        ChooseHost(*e, "Ludric", host->port());
        return took;
    }

    void WriteLoadFile(int number, const std::string& bytes) {
        std::ofstream f(LoadFilePath(dir.path(), number), std::ios::binary);
        ASSERT_TRUE(f);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // The start, up to the load of file 5; the request is sent once the start waits for it.
    void StartTheLoad() {
        WriteLoadFile(5, std::string(2000, 'z'));
        e->Start([this] { done = true; });
        ASSERT_TRUE(Run([this] { return e->nLoadFileRequest == -1; }));
        Settle(50);
        terminal->send("L05x");
        ASSERT_TRUE(Run([this] { return rig::LoaderStatusByte(*e) > 0; }));
    }

    bool done = false;
};

TEST_F(EngineEnd, WhileTheStartWaitsForTheRequest) {
    e->Start([this] { done = true; });
    ASSERT_TRUE(Run([this] { return e->nLoadFileRequest == -1; }));
    Settle(50);
    EXPECT_LT(Destroy(), std::chrono::seconds(1));
    EXPECT_TRUE(done);
}

TEST_F(EngineEnd, WhileTheStartWaitsForTheAnswerToThePortsMessage) {
    class Holder : public EngineListener {
        bool Message(const std::string&) override { return true; }
    } holder;
    e->AddListener(&holder);
    e->ChoosePortEntry("com96:2400,e,7,1");
    e->Start([this] { done = true; });
    ASSERT_TRUE(Run([this] { return e->MessagePending(); }));
    Settle(50);
    EXPECT_LT(Destroy(), std::chrono::seconds(1));
    EXPECT_TRUE(done);
}

TEST_F(EngineEnd, WhileTheLoaderPausesBetweenChunks) {
    e->SetChunkDelay(1000);
    StartTheLoad();
    ASSERT_TRUE(Run([this] { return rig::LoaderStatusByte(*e) >= 256; }));
    Settle(50);  // inside the pause of a second after the first chunk
    EXPECT_LT(Destroy(), std::chrono::milliseconds(800));
    EXPECT_TRUE(done);
}

TEST_F(EngineEnd, WhileTheLoaderWaitsForTheLine) {
    TerminalReadsAt(2400);
    StartTheLoad();
    Settle(300);
    ASSERT_GT(rig::LoaderStatusByte(*e), 0);
    ASSERT_LT(rig::LoaderStatusByte(*e), 2000);
    EXPECT_LT(Destroy(), std::chrono::seconds(1));
    EXPECT_TRUE(done);
}

TEST_F(EngineEnd, WhileTheHostIsBeingConnectedOrClosed) {
    e->LampDoubleClick(true);
    ASSERT_TRUE(Run([this] { return e->bOpeningHost; }));
    EXPECT_LT(Destroy(), std::chrono::seconds(1));

    OpenBothByLamps();
    e->Stop([this] { done = true; });
    ASSERT_TRUE(Run([this] { return !IsTerminalPortOpen(*e); }));
    EXPECT_LT(Destroy(), std::chrono::seconds(1));
    EXPECT_TRUE(done);
    EXPECT_TRUE(host->waitForDisconnect(5000));
}
