#include "rig/engine_bridge.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "relay/pump.h"
#include "rig/wait.h"

namespace corvane::rig {

void ChooseHost(Engine& e, const std::string& name, std::uint16_t port) {
    e.ChooseSystem(name + ":127.0.0.1:" + std::to_string(port));
    e.Publish();
}

std::string MessageRecorder::joined(const std::string& separator) const {
    std::string all;
    for (const std::string& m : messages) {
        if (!all.empty()) all += separator;
        all += m;
    }
    return all;
}

SerialPort::OutputQueueReader ReadAtLineRate(Engine& e, PtyTerminal& terminal, int baud) {
    terminal.setLineRate(baud);
    if (baud <= 0) {
        terminal.followFraming(nullptr);
        e.Comm.setOutputQueueReader(nullptr);
        return {};
    }
    PtyTerminal* t = &terminal;
    SerialPort* port = &e.Comm;
    terminal.followFraming(
        [port, alive = e.Alive()] { return alive.expired() ? 10.0 : port->BitsPerCharacter(); });
    // Right after a write the kernel may not yet have moved the characters to where the pty
    // counts them, so for a moment the count is what was written and not read; after that it
    // is the pty's own.
    using Clock = std::chrono::steady_clock;
    auto lastWrite = std::make_shared<std::pair<std::int64_t, Clock::time_point>>(-1, Clock::now());
    SerialPort::OutputQueueReader reader = [t, port, lastWrite](int) {
        const std::int64_t written = port->CharactersWritten();
        if (written != lastWrite->first) {
            lastWrite->first = written;
            lastWrite->second = Clock::now();
        }
        if (Clock::now() - lastWrite->second < std::chrono::milliseconds(10))
            return std::max(static_cast<int>(written - t->readTotal()), t->unread());
        return t->unread();
    };
    e.Comm.setOutputQueueReader(reader);
    return reader;
}

long long LoaderStatusByte(const Engine& e) {
    const std::string& s = e.View().statusLine;
    const std::size_t at = s.find(" BYTE ");
    return at == std::string::npos ? -1 : std::stoll(s.substr(at + 6), nullptr, 16);
}

EngineBridge::EngineBridge(asio::io_context& io) : io_(io) {
    engine_ = std::make_unique<Engine>(io_, dir_.path());
    engine_->AddListener(&recorder_);
    terminal_ = std::make_unique<PtyTerminal>(io_, dir_.path(), 1);
    host_ = std::make_unique<LoopbackHost>(io_);
    if (!host_->listening()) throw std::runtime_error("loopback host: " + host_->errorString());
    ChooseHost(*engine_, "Ludric", host_->port());
}

EngineBridge::~EngineBridge() {
    engine_->RemoveListener(&recorder_);
    engine_.reset();
    terminal_.reset();
    host_.reset();
}

bool EngineBridge::startLoaded(std::string* why) {
    engine_->SetResidentLoaded(true);
    bool done = false;
    engine_->Start([&done] { done = true; });
    RunUntil(
        io_, [&done] { return done; }, 35000);
    if (!engine_->Comm.PortOpen() || !engine_->SSL.Connected() || !host_->waitForBytes(2, 10000)) {
        if (why) *why = "the bridge did not come up: " + recorder_.joined();
        return false;
    }
    host_->takeReceived();
    return true;
}

void EngineBridge::startWithRequest(int number, std::int64_t* sentAtMs) {
    engine_->SetResidentLoaded(false);
    std::string request = "L" + std::to_string(number);
    if (request.size() < 3) request.insert(1, "0");
    request += "x";
    bool done = false;
    engine_->Start([&done] { done = true; });
    // The request goes out once the start waits for it.
    RunUntil(
        io_, [this] { return engine_->nLoadFileRequest == -1; }, 5000);
    RunFor(io_, 50);
    if (sentAtMs) *sentAtMs = terminal_->elapsedMs();
    terminal_->send(request);
    RunUntil(
        io_, [&done] { return done; }, 600000);
}

void EngineBridge::stop() {
    bool done = false;
    engine_->Stop([&done] { done = true; });
    RunUntil(
        io_, [&done] { return done; }, 35000);
    host_->waitForDisconnect(5000);
}

}  // namespace corvane::rig
