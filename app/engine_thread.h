// The one channel between the window and the engine: the engine lives on a thread of its own
// that runs its io_context; the window posts calls into it, and the engine's changes come back
// to the window's thread as queued calls, where they arrive as this object's signals.
#pragma once

#include <QObject>
#include <QString>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <variant>

#include "links/engine.h"

namespace corvane {

// Engine text (UTF-8, or single bytes where it is not valid UTF-8) for a control.
QString FromEngineText(const std::string& text);
// A control's text for the engine.
std::string ToEngineText(const QString& text);

class EngineThread : public QObject {
    Q_OBJECT

  public:
    // Makes the engine for programDir (which must not be empty) and starts its thread. Lives
    // on the thread that makes it, which receives the signals.
    explicit EngineThread(const std::string& programDir, QObject* parent = nullptr);
    // Unloads an engine that is still loaded (its links close, its waits end), then stops the
    // loop and joins the thread. What was still queued for this side is dropped.
    ~EngineThread() override;
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // Runs `call` on the engine's thread, after every call posted before it. From any thread.
    void Post(std::function<void(Engine&)> call);
    // Runs `call` on the engine's thread, then `back` on this object's thread once everything
    // the engine told its listeners before `call` returned has been signalled here.
    void Then(std::function<void(Engine&)> call, std::function<void()> back);
    // From the engine's thread (a handler of its io_context): runs `call` on this object's
    // thread, after everything the engine told before.
    void PostBack(std::function<void()> call);
    // Runs `ask` on the engine's thread and returns its result; waits at most timeoutMs, then
    // throws std::runtime_error. Never from the engine's own thread.
    template <class F>
    auto Ask(F ask, int timeoutMs = 10000) -> std::invoke_result_t<F, Engine&>;

    // The engine's io_context, for what must run on its thread (signal handling).
    asio::io_context& io() { return io_; }

  signals:
    void ViewChanged(const corvane::EngineView& view);
    // Every communication-log entry's file line.
    void CommLogLine(const QString& line);
    // A message for the operator; the engine's routine waits until it is answered with
    // Engine::MessageAnswered, which the receiver must post once the operator closed it.
    void Message(const QString& text);
    void LinksChanged();
    // The engine has unloaded; nothing more comes.
    void Unloaded();

  private:
    struct LogLine {
        std::string line;
    };
    struct MessageText {
        std::string text;
    };
    struct Links {};
    struct Unload {};
    struct Back {
        std::function<void()> call;
    };
    using Item = std::variant<EngineView, LogLine, MessageText, Links, Unload, Back>;
    class Relay;

    // From the engine's thread: queues an item for this side and wakes it when the queue was
    // empty.
    void Hand(Item item);
    // On this object's thread: signals everything queued so far, in order.
    Q_INVOKABLE void Deliver();
    void Run();

    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<Relay> relay_;
    std::thread thread_;

    // Handed over from the engine's thread; the mutex orders every item it carries.
    std::mutex mutex_;
    std::deque<Item> handed_;
    std::condition_variable unloadedNow_;
    bool unloaded_ = false;  // the engine said Unloaded (guarded by mutex_)
};

template <class F>
auto EngineThread::Ask(F ask, int timeoutMs) -> std::invoke_result_t<F, Engine&> {
    using Result = std::invoke_result_t<F, Engine&>;
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> answer = promise->get_future();
    Post([promise, ask = std::move(ask)](Engine& engine) mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                ask(engine);
                promise->set_value();
            } else {
                promise->set_value(ask(engine));
            }
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    });
    if (answer.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready)
        throw std::runtime_error("the engine did not answer in time");
    return answer.get();
}

}  // namespace corvane
