#include "app/engine_thread.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <asio/post.hpp>
#include <cstdio>
#include <exception>

namespace corvane {

namespace {

// How long a destructor waits for the unload of an engine still loaded.
constexpr auto kUnloadWait = std::chrono::seconds(5);

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

QString FromEngineText(const std::string& text) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
    QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError()) return decoded;
    // Not UTF-8: one character a byte, so that no byte is lost to a replacement character.
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToEngineText(const QString& text) { return text.toStdString(); }

// The engine's listener: runs on the engine's thread and hands everything over.
class EngineThread::Relay : public EngineListener {
  public:
    explicit Relay(EngineThread& to) : to_(to) {}
    void ViewChanged(const EngineView& view) override { to_.Hand(view); }
    void CommLogLine(const std::string& line) override { to_.Hand(LogLine{line}); }
    bool Message(const std::string& text) override {
        to_.Hand(MessageText{text});
        return true;
    }
    void LinksChanged() override { to_.Hand(Links{}); }
    void Unloaded() override { to_.Hand(Unload{}); }

  private:
    EngineThread& to_;
};

EngineThread::EngineThread(const std::string& programDir, QObject* parent)
    : QObject(parent),
      work_(asio::make_work_guard(io_)),
      engine_(std::make_unique<Engine>(io_, programDir)),
      relay_(std::make_unique<Relay>(*this)) {
    // Made before the thread starts, so the engine is complete when its first handler runs.
    engine_->AddListener(relay_.get());
    thread_ = std::thread([this] { Run(); });
}

EngineThread::~EngineThread() {
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

void EngineThread::Post(std::function<void(Engine&)> call) {
    asio::post(io_, [this, call = std::move(call)] {
        // A call still queued when the thread has ended runs, if at all, inside the engine's
        // own end, when engine_ no longer points at it: it is dropped.
        if (Engine* engine = engine_.get()) call(*engine);
    });
}

void EngineThread::Then(std::function<void(Engine&)> call, std::function<void()> back) {
    Post([this, call = std::move(call), back = std::move(back)](Engine& engine) mutable {
        call(engine);
        Hand(Back{std::move(back)});
    });
}

void EngineThread::PostBack(std::function<void()> call) { Hand(Back{std::move(call)}); }

void EngineThread::Hand(Item item) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::holds_alternative<Unload>(item)) {
            unloaded_ = true;
            unloadedNow_.notify_all();
        }
        wake = handed_.empty();
        // A newer view replaces one not yet shown: the window shows views, not their history.
        if (!wake && std::holds_alternative<EngineView>(item) &&
            std::holds_alternative<EngineView>(handed_.back())) {
            handed_.back() = std::move(item);
        } else {
            handed_.push_back(std::move(item));
        }
    }
    // Invoked by name: the call carries no data of ours across, the mutex above does.
    if (wake) QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
}

void EngineThread::Deliver() {
    // One item at a time from the shared queue: a receiver that handles events in its slot
    // (a nested loop) delivers the later items in their order, not after this batch.
    for (;;) {
        Item item;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (handed_.empty()) return;
            item = std::move(handed_.front());
            handed_.pop_front();
        }
        std::visit(Overloaded{
                       [this](const EngineView& view) { emit ViewChanged(view); },
                       [this](const LogLine& l) { emit CommLogLine(FromEngineText(l.line)); },
                       [this](const MessageText& m) { emit Message(FromEngineText(m.text)); },
                       [this](const Links&) { emit LinksChanged(); },
                       [this](const Unload&) { emit Unloaded(); },
                       [](Back& back) {
                           if (back.call) back.call();
                       },
                   },
                   item);
    }
}

void EngineThread::Run() {
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

}  // namespace corvane
