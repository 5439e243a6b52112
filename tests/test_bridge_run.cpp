// Whole bridge runs as an operator makes them: start, the terminal's load request, the
// resident load and the host woken up, and the load ended by a stop, a lost port or a close.
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <fstream>
#include <memory>

#include "relay/bounds.h"
#include "resident/loader.h"
#include "tests/bridge_fixture.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

std::string LoadPattern(int size) {
    std::string b;
    for (int i = 0; i < size; ++i) b.push_back(static_cast<char>((i * 31 + i / 256) & 0xFF));
    return b;
}
struct Pause {
    int ms;
    std::size_t bytesBefore;
    std::string settings;
};

// Runs `tick` every millisecond on the io_context for as long as it lives.
class EveryMillisecond {
  public:
    EveryMillisecond(asio::io_context& io, std::function<void()> tick)
        : timer_(io), tick_(std::move(tick)) {
        Arm();
    }

  private:
    void Arm() {
        timer_.expires_after(std::chrono::milliseconds(1));
        // Cancelled by the timer's end: the handler then touches nothing of this.
        timer_.async_wait([this](const asio::error_code& ec) {
            if (ec) return;
            tick_();
            Arm();
        });
    }
    asio::steady_timer timer_;
    std::function<void()> tick_;
};

}  // namespace

class BridgeRun : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        e->NowSeconds = [] {
            return static_cast<std::int64_t>(
                std::chrono::duration_cast<std::chrono::seconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count());
        };
        e->SetChunkDelay(5);
        // Every pause of the loader is recorded with what the terminal had by then.
        e->Sleep = [this](int ms) -> asio::awaitable<void> {
            // A pty hands what was just written to its other end a moment later.
            for (int i = 0; i < 100 && terminal->lineRate() == 0 && !terminal->isHungUp() &&
                            terminal->readTotal() < e->Comm.CharactersWritten();
                 ++i)
                co_await Wait(1);
            onLine += terminal->takeReceived();
            pauses.push_back({ms, onLine.size(), e->Comm.Settings()});
            if (duringPause) duringPause(static_cast<int>(pauses.size()));
            co_await Wait(ms);
        };
    }

    asio::awaitable<void> Wait(int ms) {
        asio::steady_timer timer(io, std::chrono::milliseconds(ms));
        co_await timer.async_wait(asio::use_awaitable);
    }

    void WriteLoadFile(int number, const std::string& bytes) {
        std::ofstream f(LoadFilePath(dir.path(), number), std::ios::binary);
        ASSERT_TRUE(f);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Presses start; the terminal asks for its file once the wait is running. True once the
    // start has returned.
    bool StartAndRequest(const std::string& request) {
        started = false;
        e->Start([this] { started = true; });
        if (!Run([this] { return e->nLoadFileRequest == -1; })) return false;
        Settle(50);
        terminal->send(request);
        return Run([this] { return started; }, 60000);
    }

    int Room() const { return LineRoom(e->Comm.Baud(), ToTerminalSlice); }

    std::string onLine;
    std::vector<Pause> pauses;
    std::function<void(int)> duringPause;
    bool started = false;
};

TEST_F(BridgeRun, TheWholeRunLoadsTheResidentAndWakesTheHost) {
    const std::string file = LoadPattern(600);
    WriteLoadFile(5, file);
    ASSERT_TRUE(StartAndRequest("L05x"));
    onLine += terminal->readFor(100);

    ASSERT_EQ(pauses.size(), 3u);
    EXPECT_EQ(pauses[0].ms, 250);  // the line settles at the load settings
    EXPECT_EQ(pauses[0].bytesBefore, 0u);
    EXPECT_EQ(pauses[1].ms, 5);
    EXPECT_EQ(pauses[1].bytesBefore, 256u);
    EXPECT_EQ(pauses[2].bytesBefore, 512u);
    for (const Pause& p : pauses) EXPECT_EQ(p.settings, "2400,o,8,1");
    EXPECT_EQ(onLine, file + Trailer());

    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");
    EXPECT_FALSE(e->bLoadingResident);
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_EQ(e->View().milestone, "D");
    EXPECT_EQ(e->View().loginMode, "next");
    EXPECT_EQ(e->View().statusLine, "LOADING FILE 05 BLOCK 01 BYTE 0258");
    EXPECT_TRUE(e->View().chunkDelayEnabled);
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    Settle(200);
    EXPECT_EQ(host->received(), "\r\r");
}

TEST_F(BridgeRun, AFileOfWholeChunksPausesAfterTheLastChunkToo) {
    WriteLoadFile(2, LoadPattern(512));
    ASSERT_TRUE(StartAndRequest("L02\r"));
    onLine += terminal->readFor(100);
    ASSERT_EQ(pauses.size(), 3u);
    EXPECT_EQ(pauses[2].bytesBefore, 512u);
    EXPECT_EQ(onLine, LoadPattern(512) + Trailer());
}

TEST_F(BridgeRun, AFileBeyond64KiBLoadsWholeAndTheCountersWrap) {
    e->SetChunkDelay(0);
    const std::string file = LoadPattern(70000);
    WriteLoadFile(5, file);
    ASSERT_TRUE(StartAndRequest("L05x"));
    onLine += terminal->readFor(200);
    EXPECT_EQ(pauses.size(), 1u + 70000 / 256);
    EXPECT_EQ(onLine.size(), file.size() + 255);
    EXPECT_TRUE(onLine == file + Trailer());
    EXPECT_EQ(e->View().statusLine, "LOADING FILE 05 BLOCK 88 BYTE 1170");
}

TEST_F(BridgeRun, ALoadAt2400BaudKeepsToTheLineAndChangesSettingsOnlyOnceItHasLeft) {
    const std::string file = LoadPattern(2000);
    const std::string all = file + Trailer();
    WriteLoadFile(5, file);
    // Every look the port takes at the device's queue, with what the device had taken by then
    // and the settings the port held: the order of drains and settings changes.
    struct Look {
        std::int64_t written;
        int device;
        std::string settings;
    };
    auto looks = std::make_shared<std::vector<Look>>();
    const SerialPort::OutputQueueReader lineQueue = TerminalReadsAt(2400);
    SerialPort* port = &e->Comm;
    port->setOutputQueueReader([looks, lineQueue, port](int fd) {
        const int n = lineQueue(fd);
        looks->push_back({port->CharactersWritten(), n, port->Settings()});
        return n;
    });
    long long lead = 0;  // how far the status line ran ahead of the terminal
    EveryMillisecond watch(io, [&] {
        if (e->bLoadingResident)
            lead = std::max(lead, rig::LoaderStatusByte(*e) - terminal->readTotal());
    });
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(StartAndRequest("L05x"));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    port->OutBufferCount();  // one look after the run
    onLine += terminal->readFor(100);

    EXPECT_TRUE(onLine == all) << onLine.size() << " of " << all.size();
    // 11 bits a character at 2400,o,8,1.
    const double lineSeconds = static_cast<double>(all.size()) * 11 / 2400;
    EXPECT_GE(seconds, 0.95 * lineSeconds);
    EXPECT_LE(lead, Room() + 2);
    RecordProperty("seconds", std::to_string(seconds));
    RecordProperty("status_lead_at_most", static_cast<int>(lead));

    // The line switched to the load settings with nothing queued, and back only once the
    // whole load had been taken by the device and the device held nothing more.
    const std::vector<Look>& l = *looks;
    ASSERT_FALSE(l.empty());
    std::string order;
    for (std::size_t i = 0; i < l.size(); ++i) {
        const bool change = i == 0 || l[i].settings != l[i - 1].settings;
        if (change || i + 1 == l.size() || l[i + 1].settings != l[i].settings)
            order += l[i].settings + " written " + std::to_string(l[i].written) + " device " +
                     std::to_string(l[i].device) + (change && i > 0 ? " (changed)" : "") + "\n";
    }
    RecordProperty("order", order);
    std::size_t firstLoad = 0;
    while (firstLoad < l.size() && l[firstLoad].settings != "2400,o,8,1") ++firstLoad;
    ASSERT_LT(firstLoad, l.size()) << order;
    ASSERT_GT(firstLoad, 0u) << order;
    EXPECT_EQ(l[firstLoad - 1].written, 0) << order;
    EXPECT_EQ(l[firstLoad - 1].device, 0) << order;
    std::size_t lastLoad = l.size() - 1;
    while (l[lastLoad].settings != "2400,o,8,1") --lastLoad;
    ASSERT_LT(lastLoad + 1, l.size()) << order;
    EXPECT_EQ(l[lastLoad].written, static_cast<std::int64_t>(all.size())) << order;
    EXPECT_EQ(l[lastLoad].device, 0) << order;
    for (std::size_t i = firstLoad; i <= lastLoad; ++i)
        ASSERT_EQ(l[i].settings, "2400,o,8,1") << i << "\n" << order;
    for (std::size_t i = lastLoad + 1; i < l.size(); ++i)
        ASSERT_EQ(l[i].settings, "2400,e,7,1") << i << "\n" << order;
    EXPECT_TRUE(IsHostConnected(*e));
}

TEST_F(BridgeRun, ResidentMarkedLoadedConnectsAtOnce) {
    e->SetResidentLoaded(true);
    Start();
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_EQ(e->View().milestone, "D");
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    EXPECT_EQ(host->received(), "\r\r");
    EXPECT_TRUE(terminal->readFor(50).empty());
}

// A view disables its start button only once the engine's view comes back to it, so two
// quick clicks reach the engine as two starts: the second is a click on a button that the
// first has disabled.
TEST_F(BridgeRun, ASecondStartBehindTheFirstRunsNoSecondLoad) {
    WriteLoadFile(5, LoadPattern(600));
    auto second = std::make_shared<bool>(false);
    e->Start([second] { *second = true; });
    ASSERT_TRUE(StartAndRequest("L05x"));
    ASSERT_TRUE(Run([second] { return *second; }));
    onLine += terminal->readFor(100);
    EXPECT_EQ(pauses.size(), 3u);
    EXPECT_TRUE(onLine == LoadPattern(600) + Trailer()) << onLine.size();
    EXPECT_TRUE(IsHostConnected(*e));
    ASSERT_TRUE(host->waitForBytes(2, 5000));
    Settle(200);
    EXPECT_EQ(host->received(), "\r\r");
    EXPECT_EQ(host->connectionCount(), 1);
}

TEST_F(BridgeRun, AMissingOrEmptyLoadFileSendsNothingAndTheRunGoesOn) {
    e->SetLogToFile(true);
    ASSERT_TRUE(StartAndRequest("L07x"));
    EXPECT_EQ(e->View().statusLine, "CANNOT LOAD istlf07.dat");
    EXPECT_NE(e->View().commPane.find("istlf07.dat"), std::string::npos);
    EXPECT_TRUE(terminal->readFor(100).empty());
    EXPECT_TRUE(IsHostConnected(*e));
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");

    Stop();
    WriteLoadFile(8, std::string());
    ASSERT_TRUE(StartAndRequest("L08x"));
    EXPECT_EQ(e->View().statusLine, "CANNOT LOAD istlf08.dat");
    EXPECT_TRUE(terminal->readFor(100).empty());
}

TEST_F(BridgeRun, StopInTheMiddleOfALoadAt2400BaudEndsItWithinTheLinesRoom) {
    WriteLoadFile(5, LoadPattern(2000));
    TerminalReadsAt(2400);
    std::int64_t readAtStop = -1;
    std::chrono::steady_clock::time_point stoppedAt;
    // Well inside the load, while the loader waits for the line.
    asio::steady_timer inside(io, std::chrono::milliseconds(1500));
    inside.async_wait([&](const asio::error_code& ec) {
        if (ec) return;
        readAtStop = terminal->readTotal();
        stoppedAt = std::chrono::steady_clock::now();
        e->Stop();
    });
    ASSERT_TRUE(StartAndRequest("L05x"));
    ASSERT_GE(readAtStop, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(5));
    onLine += terminal->readFor(300);
    // What the line held at the stop, and nothing after it; no trailer.
    EXPECT_LE(terminal->readTotal() - readAtStop, Room() + 2);
    ASSERT_GT(onLine.size(), 0u);
    EXPECT_LT(onLine.size(), 2000u);
    EXPECT_EQ(onLine, LoadPattern(2000).substr(0, onLine.size()));
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_FALSE(e->bLoadingResident);
    EXPECT_EQ(e->View().statusLine, "HOST NOT CONNECTED");
    EXPECT_EQ(host->connectionCount(), 0);
}

TEST_F(BridgeRun, StopInTheMiddleOfALoadSendsNoTrailerAndClosesBothLinks) {
    WriteLoadFile(5, LoadPattern(600));
    duringPause = [this](int n) {
        if (n == 2) e->Stop();
    };
    ASSERT_TRUE(StartAndRequest("L05x"));
    onLine += terminal->readFor(100);
    EXPECT_EQ(onLine, LoadPattern(256));
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_EQ(host->connectionCount(), 0);
    const EngineView& v = e->View();
    EXPECT_EQ(v.statusLine, "HOST NOT CONNECTED");
    EXPECT_FALSE(v.statusLineEnabled);
    EXPECT_TRUE(v.chunkDelayEnabled);
    EXPECT_TRUE(v.startEnabled);
    EXPECT_FALSE(v.stopEnabled);
}

TEST_F(BridgeRun, ThePortLostDuringALoadEndsItWithoutTrailer) {
    WriteLoadFile(5, LoadPattern(600));
    duringPause = [this](int n) {
        if (n == 2) terminal->hangUp();
    };
    ASSERT_TRUE(StartAndRequest("L05x"));
    Settle(100);
    EXPECT_EQ(onLine, LoadPattern(256));
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_EQ(LinkLampColor(*e, "RS232"), LampDown);
    EXPECT_EQ(host->connectionCount(), 0);
    EXPECT_EQ(e->Comm.Settings(), "2400,e,7,1");
}

TEST_F(BridgeRun, ClosingTheWindowDuringALoadEndsEverythingPromptly) {
    WriteLoadFile(5, LoadPattern(600));
    duringPause = [this](int n) {
        if (n == 2) asio::post(io, [this] { e->Close(true); });
    };
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(StartAndRequest("L05x"));
    ASSERT_TRUE(Run([this] { return e->bUnloaded; }));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    EXPECT_FALSE(e->sTimerActive);
    onLine += terminal->readFor(100);
    EXPECT_EQ(onLine, LoadPattern(256));
    EXPECT_EQ(host->connectionCount(), 0);
}
