#include "app/win32/engine_channel.h"

#include <asio/post.hpp>
#include <chrono>
#include <cstdio>
#include <exception>

namespace corvane::win32 {

namespace {

// How long the channel's end waits for the unload of an engine still loaded.
constexpr auto kUnloadWait = std::chrono::seconds(5);

}  // namespace

// The engine's listener: runs on the engine's thread and hands everything over.
class EngineChannel::Relay : public EngineListener {
  public:
    explicit Relay(EngineChannel& to) : to_(to) {}
    void ViewChanged(const EngineView& view) override { to_.Hand(view); }
    bool Message(const std::string& text) override {
        to_.Hand(MessageText{text});
        return true;
    }
    void Unloaded() override { to_.Hand(Unload{}); }

  private:
    EngineChannel& to_;
};

EngineChannel::EngineChannel(const std::string& programDir, HWND window, UINT wakeMessage,
                             ChannelListener& listener)
    : window_(window),
      wakeMessage_(wakeMessage),
      listener_(listener),
      work_(asio::make_work_guard(io_)),
      engine_(std::make_unique<Engine>(io_, programDir)),
      relay_(std::make_unique<Relay>(*this)) {
    // Before the thread starts, so the engine is complete when its first handler runs.
    engine_->AddListener(relay_.get());
    thread_ = std::thread([this] { Run(); });
}

EngineChannel::~EngineChannel() {
    bool loaded = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loaded = !unloaded_;
    }
    if (loaded) {
        Post([](Engine& engine) {
            if (!engine.bUnloaded) engine.Close(false);
        });
        std::unique_lock<std::mutex> lock(mutex_);
        unloadedNow_.wait_for(lock, kUnloadWait, [this] { return unloaded_; });
    }
    work_.reset();
    io_.stop();
    if (thread_.joinable()) thread_.join();
    // The thread has ended: the engine is this thread's now, and nothing else hands over.
    engine_->RemoveListener(relay_.get());
    engine_.reset();
}

void EngineChannel::Post(std::function<void(Engine&)> call) {
    asio::post(io_, [this, call = std::move(call)] {
        // A call still queued when the thread has ended is dropped with the engine.
        if (Engine* engine = engine_.get()) call(*engine);
    });
}

void EngineChannel::Then(std::function<void(Engine&)> call, std::function<void()> back) {
    Post([this, call = std::move(call), back = std::move(back)](Engine& engine) mutable {
        call(engine);
        Hand(Back{std::move(back)});
    });
}

void EngineChannel::Hand(Item item) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::holds_alternative<Unload>(item)) {
            unloaded_ = true;
            unloadedNow_.notify_all();
        }
        // A newer view replaces one not yet shown: the window shows views, not their history.
        if (!handed_.empty() && std::holds_alternative<EngineView>(item) &&
            std::holds_alternative<EngineView>(handed_.back())) {
            handed_.back() = std::move(item);
        } else {
            handed_.push_back(std::move(item));
        }
        if (!wakePosted_) wake = wakePosted_ = true;
    }
    if (wake) PostMessageW(window_, wakeMessage_, 0, 0);
}

void EngineChannel::Deliver() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wakePosted_ = false;
    }
    // One item at a time: a listener that runs a modal loop (the message box) gets the later
    // items delivered inside it, in their order, by the wake posted here.
    for (;;) {
        Item item;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (handed_.empty()) return;
            item = std::move(handed_.front());
            handed_.pop_front();
            if (!handed_.empty() && !wakePosted_) wake = wakePosted_ = true;
        }
        if (wake) PostMessageW(window_, wakeMessage_, 0, 0);
        if (auto* view = std::get_if<EngineView>(&item)) {
            listener_.ViewChanged(*view);
        } else if (auto* message = std::get_if<MessageText>(&item)) {
            listener_.Message(message->text);
        } else if (std::holds_alternative<Unload>(item)) {
            listener_.Unloaded();
        } else if (auto* back = std::get_if<Back>(&item)) {
            if (back->call) back->call();
        }
    }
}

void EngineChannel::Run() {
    // An exception out of a handler ends that handler only; the loop goes on.
    for (;;) {
        try {
            io_.run();
            return;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "corvane: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "corvane: an engine handler failed\n");
        }
    }
}

}  // namespace corvane::win32
