#include "links/engine.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <chrono>
#include <cstdio>

#include "links/bridge.h"
#include "links/host_connection.h"
#include "links/lamps.h"
#include "links/terminal_port.h"
#include "logs/comm_log.h"
#include "relay/host_data.h"
#include "relay/manual_send.h"
#include "relay/pump.h"

namespace corvane {

namespace {

std::string Field(const std::string& text, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = text.find(':', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    const std::size_t end = text.find(':', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

Engine::Engine(asio::io_context& io, std::string programDir)
    : Comm(io),
      SSL(io),
      sTimer(io),
      LineRoomWake(io),
      Changed(io),
      Unloading(io),
      io_(io),
      programDir_(std::move(programDir)) {
    while (programDir_.size() > 1 && programDir_.back() == '/') programDir_.pop_back();
    NowSeconds = [] {
        return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count());
    };
    Sleep = [this](int ms) -> asio::awaitable<void> {
        if (ms > 0) co_await Unloading.WaitFor(std::chrono::milliseconds(ms));
    };
    published_ = view_;
    WireComponents();
    StartPumpTimer(*this);
}

Engine::~Engine() {
    // Nothing may run against a half-destroyed engine: every routine still waiting ends now.
    bUnloaded = true;
    QuietComponents();
    listeners_.clear();
    Changed.Notify();
    Unloading.Notify();
    // The routines' frames refer to this engine: let them return before it goes. Nobody
    // else runs the io_context now (its thread has ended, or it is the caller's own).
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (tasks_ > 0 && std::chrono::steady_clock::now() < limit) {
        if (io_.stopped()) io_.restart();
        io_.run_one_for(std::chrono::milliseconds(10));
    }
    if (tasks_ > 0) std::fputs("corvane: routines still waiting at the engine's end\n", stderr);
    alive_.reset();
}

void Engine::QuietComponents() {
    // No tick and no component event is handled from here on, and the port is let go.
    StopPumpTimer(*this);
    Comm.OnComm = nullptr;
    SSL.DataIn = nullptr;
    SSL.ConnectionStatus = nullptr;
    SSL.Disconnected = nullptr;
    SSL.Error = nullptr;
    SSL.SSLServerAuthentication = nullptr;
    SSL.SSLStatus = nullptr;
    try {
        if (Comm.PortOpen()) Comm.setPortOpen(false);
    } catch (const CommError&) {
    }
}

void Engine::WireComponents() {
    Comm.setProgramDir(programDir_);
    Comm.setRThreshold(1);  // received characters wake a sleeping pump
    Comm.OnComm = [this] {
        const int event = Comm.CommEvent();
        if (event == comEvReceive) {
            WakePump(*this);
            return;
        }
        Spawn([this, event]() -> asio::awaitable<void> {
            // A keeper holds what waited for the terminal until its device is back.
            std::string held;
            if (event == comEventPortLost && HoldHostOutput) held.swap(sToTerminal);
            co_await Comm_OnComm(*this, event);
            if (!held.empty()) sToTerminal.insert(0, held);
            WakePump(*this);
            if (bUnloaded) co_return;  // the listeners heard Unloaded: nothing more comes
            for (EngineListener* l : std::vector<EngineListener*>(listeners_)) l->LinksChanged();
        });
    };
    SSL.DataIn = [this](const std::string& text, bool eol) {
        SSL_DataIn(*this, text, eol);
        WakePump(*this);
    };
    auto linksChanged = [this] {
        Changed.Notify();
        // After the handlers of this event, as a view would see it.
        asio::post(io_, [this, alive = Alive()] {
            if (alive.expired() || bUnloaded) return;
            for (EngineListener* l : std::vector<EngineListener*>(listeners_)) l->LinksChanged();
        });
    };
    SSL.ConnectionStatus = [this](const std::string& ev, int code, const std::string& text) {
        if (!MuteHostStatus) SSL_ConnectionStatus(*this, ev, code, text);
        Changed.Notify();
    };
    SSL.Disconnected = [this, linksChanged](int code, const std::string& text) {
        HostLinkReason = text;
        if (!MuteHostStatus) SSL_Disconnected(*this, code, text);
        linksChanged();
    };
    SSL.Error = [this, linksChanged](int code, const std::string& text) {
        ++hostErrors;
        HostLinkReason = text;
        if (!MuteHostStatus) SSL_Error(*this, code, text);
        linksChanged();
    };
    SSL.SSLServerAuthentication = [this](const std::string& status) {
        SSL_SSLServerAuthentication(*this, status);
    };
    SSL.SSLStatus = [this](const std::string& message) { SSL_SSLStatus(*this, message); };
}

void Engine::AddListener(EngineListener* listener) { listeners_.push_back(listener); }

void Engine::RemoveListener(EngineListener* listener) { std::erase(listeners_, listener); }

EngineView& Engine::Show() {
    SchedulePublish();
    return view_;
}

void Engine::SchedulePublish() {
    if (publishPosted_) return;
    publishPosted_ = true;
    asio::post(io_, [this, alive = Alive()] {
        if (alive.expired()) return;
        publishPosted_ = false;
        Publish();
    });
}

void Engine::Publish() {
    // Once the engine has unloaded its listeners hear nothing more: a view may be gone.
    if (view_ == published_ || bUnloaded) return;
    published_ = view_;
    for (EngineListener* l : std::vector<EngineListener*>(listeners_)) l->ViewChanged(view_);
}

void Engine::TellCommLogLine(const std::string& line) {
    if (CommLogSink) CommLogSink(line);
    if (bUnloaded) return;
    for (EngineListener* l : std::vector<EngineListener*>(listeners_)) l->CommLogLine(line);
}

bool Engine::TellMessage(const std::string& text) {
    bool answered = false;
    for (EngineListener* l : std::vector<EngineListener*>(listeners_))
        answered = l->Message(text) || answered;
    messagePending_ = answered;
    return answered;
}

void Engine::Spawn(std::function<asio::awaitable<void>()> routine) {
    ++tasks_;
    asio::co_spawn(
        io_,
        [this, routine = std::move(routine)]() -> asio::awaitable<void> {
            try {
                co_await routine();
            } catch (const std::exception& error) {
                std::fprintf(stderr, "corvane: a routine ended: %s\n", error.what());
            }
            --tasks_;
            Publish();
        },
        asio::detached);
}

void Engine::Start(std::function<void()> done) {
    Spawn([this, done = std::move(done)]() -> asio::awaitable<void> {
        // Whoever waits for the routine hears its end, also when it failed.
        try {
            co_await b_start_Click(*this);
        } catch (...) {
            if (done) done();
            throw;
        }
        if (done) done();
    });
}

void Engine::Stop(std::function<void()> done) {
    Spawn([this, done = std::move(done)]() -> asio::awaitable<void> {
        // Whoever waits for the routine hears its end, also when it failed.
        try {
            co_await b_stop_Click(*this);
        } catch (...) {
            if (done) done();
            throw;
        }
        if (done) done();
    });
}

void Engine::LampDoubleClick(bool ssl) {
    Spawn([this, ssl]() -> asio::awaitable<void> {
        if (ssl)
            co_await status_SSL_DblClick(*this);
        else
            co_await status_RS232_DblClick(*this);
    });
}

void Engine::SendToHost(const std::string& hexLine) { b_host_Click(*this, hexLine); }

void Engine::SendToTerminal(const std::string& hexLine) { b_term_Click(*this, hexLine); }

void Engine::MessageAnswered() {
    messagePending_ = false;
    Changed.Notify();
}

void Engine::Close(bool byOperator) {
    if (bUnloaded) return;
    Spawn([this, byOperator]() -> asio::awaitable<void> {
        // A close queued behind another one finds the engine unloaded: nothing to stop.
        if (bUnloaded) co_return;
        // The operator's own close stops the run first; a close from elsewhere does not.
        if (byOperator) co_await b_stop_Click(*this);
        Unload();
    });
}

void Engine::Unload() {
    if (bUnloaded) return;
    // From here on no tick or component event is handled, and every routine that still
    // waits sees bUnloaded and returns.
    ReportHostDrops(*this);
    bUnloaded = true;
    QuietComponents();
    SSL.Disconnect();
    messagePending_ = false;
    Changed.Notify();
    Unloading.Notify();
    // The last view the listeners hear (Publish says nothing once bUnloaded is set).
    if (!(view_ == published_)) {
        published_ = view_;
        for (EngineListener* l : std::vector<EngineListener*>(listeners_)) l->ViewChanged(view_);
    }
    for (EngineListener* l : std::vector<EngineListener*>(listeners_)) l->Unloaded();
}

void Engine::ChoosePortEntry(const std::string& entry) { choices_.portEntry = entry; }

void Engine::ChooseSystem(const std::string& entry) {
    choices_.systemEntry = entry;
    EngineView& v = Show();
    v.hostName = Field(entry, 0);
    v.hostSocket = Field(entry, 2);
    v.hostUrl = Field(entry, 1);
}

void Engine::ChooseResident(const std::string& kind) {
    choices_.residentLoaded = true;
    Show().terminalKind = kind;
}

void Engine::SetResidentLoaded(bool loaded) { choices_.residentLoaded = loaded; }

void Engine::SetChunkDelay(int ms) { choices_.chunkDelay = ms; }

void Engine::SetLogToFile(bool on) { choices_.logToFile = on; }

}  // namespace corvane
