// A host that stops reading or never answers: what the bridge holds meanwhile, and how the
// waits on such a host end when the operator closes the window.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "links/host_socket.h"
#include "tests/bridge_fixture.h"
#include "tests/test_helpers.h"

using namespace corvane;
using namespace corvane::testing;

namespace {

using Clock = std::chrono::steady_clock;
}  // namespace

class StalledHost : public BridgeTest {
  protected:
    void TearDown() override {
        closer.cancel();  // a close still due must not reach the engine as it goes
        BridgeTest::TearDown();
    }

    // The engine answers: a handler posted now runs within the bound.
    bool Answers(int boundMs = 5000) {
        auto fired = std::make_shared<bool>(false);
        asio::post(io, [fired] { *fired = true; });
        return Run([fired] { return *fired; }, boundMs);
    }

    // Starts one of the engine's routines as its caller would; the flag turns true when it
    // has returned.
    std::shared_ptr<bool> Begin(asio::awaitable<void> (*routine)(Engine&)) {
        auto done = std::make_shared<bool>(false);
        Engine& engine = *e;
        engine.Spawn([&engine, routine, done]() -> asio::awaitable<void> {
            co_await routine(engine);
            *done = true;
        });
        return done;
    }

    // The operator closes the window after ms, while the test runs the io_context.
    void CloseByOperatorAfter(int ms) {
        closer.expires_after(std::chrono::milliseconds(ms));
        closer.async_wait([this](const asio::error_code& ec) {
            if (!ec) e->Close(true);
        });
    }

    asio::steady_timer closer{io};
};

TEST_F(StalledHost, AHostThatStopsReadingBlocksNothingAndGetsEverythingLater) {
    OpenBothByLamps();
    host->setReading(false);
    const std::string typed = TerminalPattern(2 << 20);
    constexpr std::size_t kPiece = 64 * 1024;
    for (std::size_t at = 0; at < typed.size(); at += kPiece) {
        terminal->send(typed.substr(at, kPiece));
        ASSERT_TRUE(Answers(2000)) << "after " << at << " bytes";
    }
    ASSERT_TRUE(Run([this] { return e->sToHost.empty(); }));
    EXPECT_TRUE(host->received().empty());
    EXPECT_TRUE(IsHostConnected(*e));

    host->setReading(true);
    ASSERT_TRUE(host->waitForBytes(static_cast<int>(typed.size()), 30000))
        << host->received().size() << " of " << typed.size();
    Settle(100);
    EXPECT_EQ(host->received().size(), typed.size());
    EXPECT_TRUE(host->received() == typed) << "the typed bytes changed on the way";
}

TEST_F(StalledHost, ClosingTheWindowWhileOpenHostWaitsEndsTheWaitAndTheAttempt) {
    // A listener whose accept queue is full: the connection attempt gets no answer at all.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(s);
    }
    Settle(50);
    ChooseHost(*e, "Stalled", ntohs(address.sin_port));

    CloseByOperatorAfter(300);
    const Clock::time_point took = Clock::now();
    const auto done = Begin(OpenHost);
    EXPECT_TRUE(Run([done] { return *done; }, kHostWaitMs / 2));
    EXPECT_LT(MsSince(took), kHostWaitMs / 2);
    EXPECT_TRUE(e->bUnloaded);
    EXPECT_FALSE(e->bOpeningHost);
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_NE(LinkLampColor(*e, "SSL"), LampUp);
    Settle(100);
    EXPECT_FALSE(IsHostConnected(*e));

    for (int s : fillers) ::close(s);
    ::close(listener);
}

TEST_F(StalledHost, ClosingTheWindowRightAsOpenHostStartsLeavesNoLink) {
    const Clock::time_point took = Clock::now();
    const auto done = Begin(OpenHost);
    asio::post(io, [this] { e->Close(true); });
    EXPECT_TRUE(Run([done] { return *done; }, kHostWaitMs / 2));
    EXPECT_LT(MsSince(took), kHostWaitMs / 2);
    EXPECT_TRUE(e->bUnloaded);
    EXPECT_NE(LinkLampColor(*e, "SSL"), LampUp);
    Settle(200);
    EXPECT_FALSE(IsHostConnected(*e));
    EXPECT_FALSE(host->connected());
}

// A graceful close that the host never lets finish does not hold CloseHost: it returns at once
// and the close goes on in the background, until the window's close cuts it.
TEST_F(StalledHost, CloseHostOnAHostThatNeverReadsReturnsAndTheWindowCloseCutsTheLink) {
    OpenBothByLamps();
    host->setReading(false);
    // Far more than the system's buffers hold: the graceful close cannot finish.
    const std::string pending(32 << 20, 'x');
    e->SSL.Send(pending);
    Settle(100);
    // Should CloseHost wait after all, the operator's close ends the wait.
    CloseByOperatorAfter(300);
    const Clock::time_point took = Clock::now();
    const auto done = Begin(CloseHost);
    EXPECT_TRUE(Run([done] { return *done; }, kHostWaitMs / 2));
    EXPECT_LT(MsSince(took), kHostWaitMs / 2);
    EXPECT_FALSE(IsHostConnected(*e));
    if (!e->bUnloaded) {
        EXPECT_EQ(LinkLampColor(*e, "SSL"), LampDown);
    }
    EXPECT_TRUE(Answers());

    ASSERT_TRUE(Run([this] { return e->bUnloaded; }));
    EXPECT_FALSE(IsTerminalPortOpen(*e));
    // The host, reading again, gets a part of the bytes, unchanged, and then sees the link cut.
    host->setReading(true);
    EXPECT_TRUE(host->waitForDisconnect(20000));
    const std::string got = host->received();
    EXPECT_LT(got.size(), pending.size());
    EXPECT_EQ(static_cast<std::size_t>(std::count(got.begin(), got.end(), 'x')), got.size());
}
