// The channel between the window's thread and the engine's: calls go in on the engine's
// thread in their order, the engine's news come out on the window's thread in theirs, and the
// channel ends cleanly with traffic in flight. Built with -fsanitize=thread, these tests are
// the channel's race check.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/engine_thread.h"

using namespace corvane;

namespace {

// Handles the window thread's events until cond() holds, at most ms.
bool HandleEventsUntil(const std::function<bool()>& cond, int ms = 10000) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= limit) return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Says, on the engine's thread, what it saw of the unload; outlives the channel.
class UnloadWatch : public EngineListener {
  public:
    void Unloaded() override { unloaded = true; }
    std::atomic<bool> unloaded{false};
};

}  // namespace

TEST(EngineThread, CallsFromTwoThreadsAndTheEnginesNewsCrossInOrder) {
    QTemporaryDir dir;
    EngineThread channel(dir.path().toStdString());
    const std::thread::id gui = std::this_thread::get_id();
    constexpr int kEach = 2000;

    std::vector<std::string> lines;
    int views = 0;
    int lastSeen = -1;
    bool inOrder = true;
    bool onGuiThread = true;
    QObject::connect(&channel, &EngineThread::CommLogLine, [&](const QString& line) {
        onGuiThread = onGuiThread && std::this_thread::get_id() == gui;
        lines.push_back(line.toStdString());
    });
    QObject::connect(&channel, &EngineThread::ViewChanged, [&](const EngineView& view) {
        onGuiThread = onGuiThread && std::this_thread::get_id() == gui;
        ++views;
        const int n = std::stoi(view.hostSocket);
        inOrder = inOrder && n > lastSeen;
        lastSeen = n;
    });

    std::atomic<bool> offEngineThread{false};
    std::atomic<int> counter{0};
    // Every call publishes a view numbered in the order the engine ran the calls, and a line
    // that says who posted it.
    auto call = [&](const std::string& who, int i) {
        return [&, who, i](Engine& e) {
            if (std::this_thread::get_id() == gui) offEngineThread = true;
            e.Show().hostSocket = std::to_string(counter++);
            e.Publish();
            e.TellCommLogLine(who + " " + std::to_string(i));
        };
    };
    std::thread other([&] {
        for (int i = 0; i < kEach; ++i) channel.Post(call("other", i));
    });
    for (int i = 0; i < kEach; ++i) {
        channel.Post(call("gui", i));
        if (i % 64 == 0) QCoreApplication::processEvents();
    }
    other.join();
    ASSERT_TRUE(HandleEventsUntil([&] { return lines.size() == 2 * kEach; }))
        << lines.size() << " lines";

    EXPECT_FALSE(offEngineThread);
    EXPECT_TRUE(onGuiThread);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(lastSeen, 2 * kEach - 1);  // views may be merged, the last one always comes
    EXPECT_GE(views, 1);
    int nextGui = 0;
    int nextOther = 0;
    for (const std::string& line : lines) {
        if (line.rfind("gui ", 0) == 0)
            EXPECT_EQ(line, "gui " + std::to_string(nextGui++));
        else
            EXPECT_EQ(line, "other " + std::to_string(nextOther++));
    }
    EXPECT_EQ(nextGui, kEach);
    EXPECT_EQ(nextOther, kEach);
    EXPECT_EQ(channel.Ask([](Engine& e) { return e.View().hostSocket; }),
              std::to_string(2 * kEach - 1));
}

TEST(EngineThread, ThenComesBackAfterWhatTheEngineToldBefore) {
    QTemporaryDir dir;
    EngineThread channel(dir.path().toStdString());
    std::vector<std::string> seen;
    QObject::connect(&channel, &EngineThread::ViewChanged,
                     [&](const EngineView& view) { seen.push_back("view " + view.milestone); });
    QObject::connect(&channel, &EngineThread::CommLogLine,
                     [&](const QString& line) { seen.push_back(line.toStdString()); });
    bool back = false;
    channel.Then(
        [&channel, &seen](Engine& e) {
            e.Show().milestone = "B";
            e.Publish();
            channel.PostBack([&seen] { seen.push_back("posted back"); });
            e.TellCommLogLine("line");
            e.Show().milestone = "C";  // published after the call: not yet seen at its end
        },
        [&] {
            seen.push_back("back");
            back = true;
        });
    ASSERT_TRUE(HandleEventsUntil([&] { return back && seen.size() == 5; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"view B", "posted back", "line", "back", "view C"}));
}

TEST(EngineThread, AMessageWaitsForTheAnswerPostedBack) {
    QTemporaryDir dir;
    EngineThread channel(dir.path().toStdString());
    QString said;
    QObject::connect(&channel, &EngineThread::Message, [&](const QString& text) {
        said = text;
        channel.Post([](Engine& e) { e.MessageAnswered(); });
    });
    // The channel's listener takes the message on, for the window to answer.
    EXPECT_TRUE(
        channel.Ask([](Engine& e) { return e.TellMessage("Can't open com96:2400,e,7,1"); }));
    EXPECT_TRUE(channel.Ask([](Engine& e) { return e.MessagePending(); }));
    ASSERT_TRUE(HandleEventsUntil([&] { return !said.isEmpty(); }));
    EXPECT_EQ(said, "Can't open com96:2400,e,7,1");
    EXPECT_TRUE(HandleEventsUntil(
        [&] { return !channel.Ask([](Engine& e) { return e.MessagePending(); }); }));
}

TEST(EngineThread, AFailedCallEndsOnlyItselfAndAnAskCanFail) {
    QTemporaryDir dir;
    EngineThread channel(dir.path().toStdString());
    channel.Post([](Engine&) { throw std::runtime_error("a call that fails"); });
    EXPECT_EQ(channel.Ask([](Engine& e) { return e.Choices().chunkDelay; }), 385);
    EXPECT_THROW(channel.Ask([](Engine&) -> int { throw std::runtime_error("no"); }),
                 std::runtime_error);
    EXPECT_EQ(channel.Ask([](Engine& e) { return e.bUnloaded; }), false);
}

TEST(EngineThread, EndingWithTrafficInFlightUnloadsTheEngineAndDropsWhatWasQueued) {
    for (int round = 0; round < 20; ++round) {
        QTemporaryDir dir;
        UnloadWatch watch;
        int delivered = 0;
        {
            EngineThread channel(dir.path().toStdString());
            QObject::connect(&channel, &EngineThread::CommLogLine, [&] { ++delivered; });
            channel.Post([&watch](Engine& e) { e.AddListener(&watch); });
            // Every other round the engine has unloaded already: what is still queued at the
            // end is dropped, not run against an engine on its way out.
            if (round % 2 == 1) {
                bool unloaded = false;
                QObject::connect(&channel, &EngineThread::Unloaded, [&] { unloaded = true; });
                channel.Post([](Engine& e) { e.Close(false); });
                ASSERT_TRUE(HandleEventsUntil([&] { return unloaded; }));
            }
            std::thread other([&] {
                for (int i = 0; i < 200; ++i) {
                    channel.Post([i](Engine& e) {
                        e.Show().hostSocket = std::to_string(i);
                        e.TellCommLogLine("line");
                    });
                }
            });
            other.join();
            if (round % 4 == 0) QCoreApplication::processEvents();
        }
        EXPECT_TRUE(watch.unloaded) << round;
        const int before = delivered;
        QCoreApplication::processEvents();  // nothing of the gone channel arrives any more
        EXPECT_EQ(delivered, before);
    }
}

TEST(EngineThread, EngineTextIsUtf8OrSingleBytes) {
    EXPECT_EQ(FromEngineText("00  \xc3\xb9 text"), QStringLiteral("00  \u00f9 text"));
    EXPECT_EQ(FromEngineText("caf\xe9"), QStringLiteral("caf\u00e9"));  // not UTF-8: no byte lost
    EXPECT_EQ(FromEngineText(std::string("a\0b", 3)).size(), 3);
    EXPECT_EQ(ToEngineText(QStringLiteral("/dev/ttyUSB\u00e9")), "/dev/ttyUSB\xc3\xa9");
}
