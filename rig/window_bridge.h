// A fresh window in this process between the rig's pty terminal and its loopback host, as
// the benchmarks and the soak drive it.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "app/w_host.h"
#include "links/serial_port.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"

namespace corvane::rig {

// Chooses a host system on 127.0.0.1 the way the operator does, with the given port.
void ChooseHost(WHost& w, const QString& name, quint16 port);

// The terminal reads at the pace of a real line (PtyTerminal::setLineRate) framed as the
// window's serial port has set it, and that port sees what the pty holds for the terminal as
// the device's output queue, as a UART reports it; a pty itself reports none. Baud 0 goes
// back to a plain pty. Returns the queue reader it gave the port (empty for baud 0), so a test
// can watch what the port looks at.
SerialPort::OutputQueueReader ReadAtLineRate(WHost& w, PtyTerminal& terminal, int baud);

// The byte count of the loader's status line ("... BYTE hhhh"), -1 while it shows none.
long long LoaderStatusByte(const WHost& w);

class WindowBridge {
  public:
    // Throws std::runtime_error when the folder, the pty or the host cannot be had.
    WindowBridge();
    ~WindowBridge();

    // Presses start with "Resident is loaded" ticked and waits (bounded) until the host has
    // its two carriage returns, which are taken. False with the reason when it did not come up.
    bool startLoaded(QString* why);
    // Presses start unticked; the terminal asks for load file `number` once the wait runs.
    // Returns when the run is up again (after the load and the host's connection); sentAtMs
    // is when the request went out, on the terminal's arrival clock.
    void startWithRequest(int number, qint64* sentAtMs = nullptr);
    void stop();
    // ReadAtLineRate for this bridge's window and terminal.
    void readAtLineRate(int baud) { ReadAtLineRate(*window_, *terminal_, baud); }

    QString programDir() const { return dir_.path(); }
    WHost& window() { return *window_; }
    PtyTerminal& terminal() { return *terminal_; }
    LoopbackHost& host() { return *host_; }
    // Messages the program would have shown in a box.
    const QStringList& messages() const { return messages_; }

  private:
    QTemporaryDir dir_;
    QStringList messages_;
    std::unique_ptr<WHost> window_;
    std::unique_ptr<PtyTerminal> terminal_;
    std::unique_ptr<LoopbackHost> host_;
};

}  // namespace corvane::rig
