// What the two halves of the host socket component share: its link, its codes and its texts.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "links/host_socket.h"

namespace corvane {

namespace hostsock {

using asio::ip::tcp;

// What the component reads from the system at most before it hands it on: one DataIn is never
// larger. Data is taken from the system only at the moment it is handed on, so while data is
// not accepted the component holds none of it; the system's buffers and the TCP window push
// back on the host.
constexpr std::size_t kReadAtMost = 64 * 1024;

// Codes of the Error and Disconnected events. They keep the numbers this component reported
// before it moved to Asio, so a code in an old log means what it meant.
enum Code : int {
    kUnknown = -1,
    kConnectionRefused = 0,
    kRemoteHostClosed = 1,  // closed or reset by the host, or a broken pipe
    kHostNotFound = 2,
    kSocketAccess = 3,
    kSocketResource = 4,
    kSocketTimeout = 5,
    kNetwork = 7,                // network or host unreachable, network down
    kUnsupportedOperation = 10,  // a port outside 1 to 65535
    kOperationError = 19,        // Send without a link
};

int CodeOf(const asio::error_code& ec);

// "HOST port N", as every status text names the link.
std::string Where(const std::string& host, int port);

}  // namespace hostsock

struct HostSocket::Impl {
    // Broken: a write failed; the link is down for Send and Connected, but what the host sent
    // before the end is still read and delivered before Disconnected reports it.
    enum class Phase { Resolving, Connecting, Up, Closing, Broken };

    // One link or attempt. Handlers hold it, so its socket and buffers outlive a replaced link
    // or a destroyed component until the handlers have run; `owner` tells them whether the
    // component still wants them.
    struct Link {
        explicit Link(asio::io_context& io) : resolver(io), socket(io) {}
        // The component, while this is its current link; null once it was replaced or ended.
        Impl* Current() const { return owner && owner->link.get() == this ? owner : nullptr; }
        bool Open() const { return phase >= Phase::Up; }
        std::int64_t Pending() const {
            return static_cast<std::int64_t>(out.size() - outAt + queued.size());
        }
        void Close() {
            owner = nullptr;
            asio::error_code ignored;
            resolver.cancel();
            socket.close(ignored);
            queued.clear();
        }

        Impl* owner = nullptr;
        hostsock::tcp::resolver resolver;
        hostsock::tcp::socket socket;
        std::string host;
        int port = 0;
        Phase phase = Phase::Resolving;
        std::string out;  // the write in flight, from outAt on
        std::size_t outAt = 0;
        std::string queued;  // what Send added behind it
        bool writing = false;
        bool shutdownSent = false;
        bool waitArmed = false;    // a wait for readable data is pending
        bool turnPosted = false;   // a read turn of a broken link is posted
        asio::error_code failure;  // why a write failed, for the report of the end
    };
    using LinkPtr = std::shared_ptr<Link>;

    Impl(HostSocket& self, asio::io_context& io) : self(self), io(io) {}
    ~Impl() {
        // No events from a half-destroyed component: drop the link quietly.
        if (link) link->Close();
    }

    // Calls an event handler; false when the handler destroyed the component. The handler is
    // copied first: it may replace itself or destroy the component that holds it.
    template <typename Event, typename... Args>
    bool Emit(const Event& event, Args&&... args) {
        if (!event) return true;
        const std::weak_ptr<char> stillAlive = alive;
        const Event call = event;
        call(std::forward<Args>(args)...);
        return !stillAlive.expired();
    }

    void Start(const std::string& host, int port);
    void OnResolved(const LinkPtr& l, const asio::error_code& ec,
                    const hostsock::tcp::resolver::results_type& results);
    void OnConnected(const LinkPtr& l, const asio::error_code& ec,
                     const hostsock::tcp::endpoint& peer);
    bool CannotConnect(const LinkPtr& l, const asio::error_code& ec);
    void ArmRead(const LinkPtr& l);
    void OnReadable(const LinkPtr& l, const asio::error_code& ec);
    bool ReadSome(const LinkPtr& l, std::size_t want);
    void Poll();
    void StartWrite(const LinkPtr& l);
    void OnWritten(const LinkPtr& l, const asio::error_code& ec, std::size_t n);
    void WriteFailed(const LinkPtr& l, const asio::error_code& ec);
    void End(const LinkPtr& l, asio::error_code ec);
    bool Abort(bool report);

    HostSocket& self;
    asio::io_context& io;
    LinkPtr link;
    std::string host;  // of the last Connect, for the texts of a Send without a link
    int port = 0;
    std::vector<char> readBuffer = std::vector<char>(hostsock::kReadAtMost);
    std::shared_ptr<char> alive = std::make_shared<char>();
};

}  // namespace corvane
