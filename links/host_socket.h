// The host socket component `SSL`: a plain TCP client with the operations and events the
// bridge uses, on the engine's io_context. Status texts name the address, the port and the
// reason.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane {

class HostSocket {
  public:
    explicit HostSocket(asio::io_context& io);
    ~HostSocket();
    HostSocket(const HostSocket&) = delete;
    HostSocket& operator=(const HostSocket&) = delete;

    // ---- events, delivered from the io_context ----
    std::function<void(const std::string& text, bool endOfLine)> DataIn;
    std::function<void(const std::string& connectionEvent, int statusCode,
                       const std::string& description)>
        ConnectionStatus;
    std::function<void(int statusCode, const std::string& description)> Disconnected;
    std::function<void(int errorCode, const std::string& description)> Error;
    std::function<void(const std::string& status)> SSLServerAuthentication;
    std::function<void(const std::string& message)> SSLStatus;

    // 3 = never negotiate TLS (plain TCP), the only mode the bridge uses.
    void setSSLStartMode(int mode) { securityMode_ = mode; }
    int SSLStartMode() const { return securityMode_; }
    void setLinger(bool on) { linger_ = on; }
    bool Linger() const { return linger_; }
    void setKeepAlive(bool on) { keepAlive_ = on; }
    bool KeepAlive() const { return keepAlive_; }

    // Starts resolving and connecting and returns; progress and failure arrive as events
    // (ConnectionStatus "Connecting", then "Connected", or Error).
    void Connect(const std::string& host, int port);
    // Delivers the component's pending events now: what the system holds for the socket is
    // read without waiting and handed to DataIn; a close by the peer is noticed.
    void DoEvents();
    bool Connected() const;
    // Hands the characters to the connection, in order, unchanged; an Error event when not
    // connected. Never blocks: what the system does not take at once waits in the component.
    void Send(const std::string& text);
    // Starts closing and returns (graceful: pending writes go out first); Connected turns
    // False when the link is down. A second Disconnect while closing cuts the link.
    void Disconnect();

    // False: no DataIn events; what the host sends waits in the component (at most 64 KiB,
    // the most one DataIn carries) and then in the system, whose receive window holds the
    // host back. True again delivers what waited, in order. A new Connect sets it True.
    void setAcceptData(bool accept);
    bool AcceptData() const { return acceptData_; }
    // Bytes handed to Send and not yet taken by the system.
    std::int64_t BytesToWrite() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int securityMode_ = 0;
    bool linger_ = false;
    bool keepAlive_ = false;
    bool acceptData_ = true;
};

}  // namespace corvane
