// An engine in this process between the rig's pty terminal and its loopback host, all on one
// io_context that the caller runs, as the tests, the benchmarks and the soak drive it.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "links/engine.h"
#include "links/serial_port.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"
#include "rig/temp_dir.h"

namespace corvane::rig {

// Chooses a host system on 127.0.0.1 the way the operator does, with the given port.
void ChooseHost(Engine& e, const std::string& name, std::uint16_t port);

// The terminal reads at the pace of a real line (PtyTerminal::setLineRate) framed as the
// engine's serial port has set it, and that port sees what it wrote and the terminal has
// still to read as the device's output queue, as a UART reports it; a pty itself reports
// none. Baud 0 goes back to a plain pty. Returns the queue reader it gave the port (empty for
// baud 0), so a test can watch what the port looks at.
SerialPort::OutputQueueReader ReadAtLineRate(Engine& e, PtyTerminal& terminal, int baud);

// The byte count of the loader's status line ("... BYTE hhhh"), -1 while it shows none.
long long LoaderStatusByte(const Engine& e);

// Keeps every message the engine has for the operator (none is answered later).
class MessageRecorder : public EngineListener {
  public:
    bool Message(const std::string& text) override {
        messages.push_back(text);
        return false;
    }
    std::string joined(const std::string& separator = "; ") const;
    std::vector<std::string> messages;
};

class EngineBridge {
  public:
    // Throws std::runtime_error when the folder, the pty or the host cannot be had.
    explicit EngineBridge(asio::io_context& io);
    ~EngineBridge();

    // Starts with "Resident is loaded" and waits (bounded) until the host has its two
    // carriage returns, which are taken. False with the reason when it did not come up.
    bool startLoaded(std::string* why);
    // Starts without it; the terminal asks for load file `number` once the wait runs.
    // Returns when the run is up again (after the load and the host's connection); sentAtMs
    // is when the request went out, on the terminal's arrival clock.
    void startWithRequest(int number, std::int64_t* sentAtMs = nullptr);
    void stop();
    void readAtLineRate(int baud) { ReadAtLineRate(*engine_, *terminal_, baud); }

    asio::io_context& io() { return io_; }
    const std::string& programDir() const { return dir_.path(); }
    Engine& engine() { return *engine_; }
    PtyTerminal& terminal() { return *terminal_; }
    LoopbackHost& host() { return *host_; }
    // Messages the program would have shown in a box.
    const std::vector<std::string>& messages() const { return recorder_.messages; }

  private:
    asio::io_context& io_;
    TempDir dir_;
    MessageRecorder recorder_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<PtyTerminal> terminal_;
    std::unique_ptr<LoopbackHost> host_;
};

}  // namespace corvane::rig
