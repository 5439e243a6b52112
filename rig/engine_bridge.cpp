#include "rig/engine_bridge.h"

#include <algorithm>
#include <climits>
#include <memory>
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
        e.Comm.setOutputDropWatcher(nullptr);
        return {};
    }
    PtyTerminal* t = &terminal;
    SerialPort* port = &e.Comm;
    terminal.followFraming(
        [port, alive = e.Alive()] { return alive.expired() ? 10.0 : port->BitsPerCharacter(); });
    // The queue is what the program wrote, less what the terminal has read and what a purge
    // or close dropped. A pty drops only what the kernel has not yet moved across to the
    // terminal's side; what is there after the drop is left. The pty's count alone would lag
    // each write until the kernel has moved it, by milliseconds or, on a loaded machine, by
    // more than a pump's tick, and the program would write into a queue it believes empty.
    auto dropped = std::make_shared<std::int64_t>(0);
    port->setOutputDropWatcher([t, port, dropped, alive = t->Alive()] {
        if (!alive.expired()) *dropped = port->CharactersWritten() - t->readTotal() - t->unread();
    });
    SerialPort::OutputQueueReader reader = [t, port, dropped, alive = t->Alive()](int) {
        if (alive.expired()) return 0;
        const std::int64_t queued = port->CharactersWritten() - t->readTotal() - *dropped;
        return static_cast<int>(std::clamp<std::int64_t>(queued, 0, INT_MAX));
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
