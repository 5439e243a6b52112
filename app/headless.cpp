#include "app/headless.h"

#include <fmt/format.h>

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/program_dir.h"
#include "app/termination_signals.h"
#include "links/engine.h"
#include "links/unattended.h"

namespace corvane {

namespace {

void PrintLine(std::FILE* to, const std::string& text) {
    std::fputs((text + '\n').c_str(), to);
    std::fflush(to);
}

void Complain(const std::string& text) { PrintLine(stderr, "corvane: " + text); }

// What the service manager hears: READY=1 once, STATUS= whenever the line differs from the
// one told last, and WATCHDOG=1 at half the interval it asks for, from this loop, so that a
// loop that hangs stops pinging and is restarted. The pings are the run's only timer; a
// status whose byte counts alone moved goes with them.
class ServiceReport {
  public:
    ServiceReport(asio::io_context& io, ServiceNotice notice, std::function<std::string()> status)
        : notice_(std::move(notice)), status_(std::move(status)), ping_(io) {}

    void Begin() {
        if (notice_.notify && notice_.watchdog.count() > 0) ArmPing();
    }
    void Ready() {
        if (ready_ || !notice_.notify) return;
        ready_ = true;
        told_ = status_();
        notice_.notify("READY=1\nSTATUS=" + told_);
    }
    void Changed() {
        if (!ready_ || !notice_.notify) return;
        std::string now = status_();
        if (now == told_) return;
        told_ = std::move(now);
        notice_.notify("STATUS=" + told_);
    }
    // The pings go on until the loop ends: the stop's close of the host may take a while.
    void Stopping() {
        if (notice_.notify) notice_.notify("STOPPING=1");
    }

  private:
    void ArmPing() {
        ping_.expires_after(notice_.watchdog / 2);
        ping_.async_wait([this, alive = std::weak_ptr<bool>(alive_)](const asio::error_code& ec) {
            if (ec || alive.expired()) return;
            Changed();
            notice_.notify("WATCHDOG=1");
            ArmPing();
        });
    }

    ServiceNotice notice_;
    std::function<std::string()> status_;
    asio::steady_timer ping_;
    std::string told_;
    bool ready_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// One run: listens to the engine, ends the run on a signal (and with --once on a lost link),
// and keeps the exit status.
class HeadlessRun final : public EngineListener {
  public:
    HeadlessRun(Engine& engine, asio::io_context& io, bool once, const ServiceNotice& notice)
        : engine_(engine), io_(io), service_(io, notice, [this] { return StatusText(); }) {
        engine_.AddListener(this);
        if (!once) keeper_ = std::make_unique<Unattended>(engine_);
    }
    ~HeadlessRun() override {
        keeper_.reset();
        engine_.RemoveListener(this);
        alive_.reset();  // what is still queued for this run finds it gone
    }

    // The operator's choices, made through the engine's calls as the controls' handlers would.
    void ApplySettings(const CommandLine& o) {
        engine_.SetLogToFile(o.logToFile);
        engine_.ChoosePortEntry(o.portEntry);
        engine_.ChooseSystem(o.systemEntry);
        if (!o.residentKind.empty()) engine_.ChooseResident(o.residentKind);
        engine_.SetResidentLoaded(o.residentLoaded);
        if (o.chunkDelay) engine_.SetChunkDelay(*o.chunkDelay);
    }

    // The start's waits run on the io_context, so it begins once the loop runs, as a click.
    void Begin() {
        asio::post(io_, Guarded([this] {
                       if (ending_) return;
                       service_.Begin();
                       if (!keeper_) {
                           engine_.Start(Guarded([this] { Started(); }));
                           return;
                       }
                       keeper_->OnChange(Guarded([this] { service_.Changed(); }));
                       keeper_->Begin([this, alive = std::weak_ptr<bool>(alive_)](bool refused) {
                           if (!alive.expired()) KeeperStarted(refused);
                       });
                   }));
    }

    // The stop as the stop button does it (port, then host); then the unload, which says
    // what the host did not read (no tick runs after the stop to say it) and ends every wait
    // still under way; then the loop ends.
    void End(int code) {
        if (ending_) return;
        ending_ = true;
        status_ = code;
        service_.Stopping();
        if (keeper_) keeper_->Stop();
        engine_.Stop(Guarded([this] { engine_.Close(false); }));
    }

    int Status() const { return status_; }

    void CommLogLine(const std::string& line) override { PrintLine(stdout, line); }

    bool Message(const std::string& text) override {
        Complain(text);
        // The keeper says itself whether its start was refused; later its reopens may fail.
        if (!keeper_) portRefused_ = true;
        return false;  // nobody answers: the start goes on at once
    }

    void ViewChanged(const EngineView& view) override {
        if (keeper_) return;  // the keeper tells its own changes
        if (view.lampRS232 == LampUp) service_.Ready();
        service_.Changed();
    }

    // Each loss of a link comes with an event of its component; the look follows it, once
    // the engine's own handlers have run.
    void LinksChanged() override {
        if (keeper_) return;
        asio::post(io_, Guarded([this] { Look(); }));
    }

    void Unloaded() override { io_.stop(); }

  private:
    std::function<void()> Guarded(std::function<void()> f) {
        return [alive = std::weak_ptr<bool>(alive_), f = std::move(f)] {
            if (!alive.expired()) f();
        };
    }

    std::string StatusText() const {
        if (keeper_) return keeper_->StatusText();
        const EngineView& v = engine_.View();
        return fmt::format("terminal {} {}, host {}, milestone {} (one run)",
                           engine_.Comm.PortName(), v.lampRS232 == LampUp ? "open" : "closed",
                           engine_.SSL.Connected() ? "up" : "down",
                           v.milestone.empty() ? "none" : v.milestone);
    }

    void KeeperStarted(bool refused) {
        if (ending_) return;
        if (refused) {
            End(2);
            return;
        }
        up_ = true;
        service_.Ready();
    }

    void Started() {
        if (ending_) return;
        if (portRefused_ || !engine_.IsTerminalPortOpen()) {
            End(2);
        } else if (!engine_.IsHostConnected()) {
            Complain("no connection to the host " + engine_.View().hostUrl + " port " +
                     engine_.View().hostSocket);
            End(1);
        } else {
            up_ = true;
        }
    }

    // Nobody is there to press stop and start again: with --once a lost link ends the run,
    // so that a service manager can start a new one.
    void Look() {
        if (!up_ || ending_) return;
        if (!engine_.IsTerminalPortOpen()) {
            Complain("the terminal port was lost");
            End(1);
        } else if (!engine_.IsHostConnected()) {
            Complain("the host ended the connection");
            End(1);
        }
    }

    Engine& engine_;
    asio::io_context& io_;
    std::unique_ptr<Unattended> keeper_;
    ServiceReport service_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int status_ = 0;
    bool ending_ = false;
    bool up_ = false;
    bool portRefused_ = false;
};

}  // namespace

int RunHeadless(const CommandLine& options, const ServiceNotice& notice) {
    std::string why;
    const std::string programDir = ProgramDirFor(options.programDir, &why);
    if (!why.empty()) {
        Complain(why);
        return 2;
    }
    // Declared before the io_context: the signal handler lives as long as the context, and
    // finds no run once the run is over.
    std::function<void()> onSignal;
    asio::io_context io;
    // Installed first, so that a signal during the start still ends the run as a stop does.
    OnTerminationSignals(io, [&onSignal] {
        if (onSignal) onSignal();
    });
    Engine engine(io, programDir);
    HeadlessRun run(engine, io, options.once, notice);
    onSignal = [&run] { run.End(0); };
    run.ApplySettings(options);
    run.Begin();
    io.run();  // until the unload stops it
    onSignal = nullptr;
    return run.Status();
}

}  // namespace corvane
