// A stand-in PLATO host on 127.0.0.1 for tests, benchmarks and trying the bridge.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane::rig {

class LoopbackHost {
  public:
    // Port 0 takes any free port; port() tells which. Each connection is greeted with the
    // banner when it is not empty. Its sockets run on `io`.
    explicit LoopbackHost(asio::io_context& io, std::uint16_t port = 0, std::string banner = {});
    ~LoopbackHost();
    LoopbackHost(const LoopbackHost&) = delete;
    LoopbackHost& operator=(const LoopbackHost&) = delete;

    bool listening() const;
    std::uint16_t port() const { return port_; }
    std::string errorString() const { return error_; }
    void stopListening();

    // Connections accepted so far; the newest one is the current one.
    int connectionCount() const { return connectionCount_; }
    bool connected() const;

    // Everything received on any connection, in arrival order.
    const std::string& received() const { return received_; }
    std::string takeReceived();
    // Reads that brought data, to see how the bytes were split.
    int readCount() const { return readCount_; }

    // To the current connection; written out as far as the system takes it, the rest from
    // the io_context.
    void send(const std::string& bytes);
    // What send() took that the system has not yet taken from the current connection.
    std::int64_t pendingOut() const;
    // Graceful close of the current connection; pending writes go first.
    void closeConnection();
    // Abortive close: the peer sees a reset.
    void resetConnection();

    void setEcho(bool on) { echo_ = on; }
    // Off: the host stops reading its sockets, so the peer's writes back up (fault tests).
    void setReading(bool on);

    // Called when the current connection comes or goes.
    std::function<void(bool connected)> connectedChanged;

    // Bounded waits that run the io_context.
    bool waitForConnection(int timeoutMs);
    bool waitForBytes(int n, int timeoutMs);
    bool waitForDisconnect(int timeoutMs);

  private:
    struct Impl;
    asio::io_context& io_;
    std::unique_ptr<Impl> impl_;
    std::uint16_t port_ = 0;
    std::string error_;
    std::string banner_;
    std::string received_;
    int connectionCount_ = 0;
    int readCount_ = 0;
    bool echo_ = false;
    bool reading_ = true;
};

}  // namespace corvane::rig
