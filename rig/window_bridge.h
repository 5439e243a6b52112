// A fresh window in this process between the rig's pty terminal and its loopback host, as
// the benchmarks and the soak drive it.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "app/w_host.h"
#include "rig/loopback_host.h"
#include "rig/pty_terminal.h"

namespace corvane::rig {

// Chooses a host system on 127.0.0.1 the way the operator does, with the given port.
void ChooseHost(WHost& w, const QString& name, quint16 port);

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
