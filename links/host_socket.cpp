#include "links/host_socket.h"

#include <fmt/format.h>

#include <asio/connect.hpp>

#include "links/host_socket_internal.h"

namespace corvane {

namespace hostsock {

int CodeOf(const asio::error_code& ec) {
    namespace e = asio::error;
    const auto is = [&ec](auto... codes) { return ((ec == codes) || ...); };
    if (is(e::connection_refused)) return kConnectionRefused;
    if (is(e::eof, e::connection_reset, e::connection_aborted, e::broken_pipe, e::shut_down))
        return kRemoteHostClosed;
    if (is(e::host_not_found, e::host_not_found_try_again, e::no_data, e::no_recovery,
           e::service_not_found, e::not_found))
        return kHostNotFound;
    if (is(e::access_denied, e::no_permission)) return kSocketAccess;
    if (is(e::no_memory, e::no_buffer_space, e::no_descriptors)) return kSocketResource;
    if (is(e::timed_out)) return kSocketTimeout;
    if (is(e::network_down, e::network_reset, e::network_unreachable, e::host_unreachable))
        return kNetwork;
    return kUnknown;
}

std::string Where(const std::string& host, int port) {
    return fmt::format("{} port {}", host, port);
}

}  // namespace hostsock

using namespace hostsock;

namespace {

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n\f\v") == std::string::npos; }

}  // namespace

HostSocket::HostSocket(asio::io_context& io) : impl_(std::make_unique<Impl>(*this, io)) {}

HostSocket::~HostSocket() = default;

void HostSocket::Connect(const std::string& host, int port) {
    // A new request replaces whatever link or attempt there was; an established link
    // reports its Disconnected (with its own address) first.
    if (!impl_->Abort(true)) return;
    acceptData_ = true;
    impl_->host = host;
    impl_->port = port;

    if (Blank(host)) {
        impl_->Emit(Error, kHostNotFound,
                    fmt::format("Cannot connect: no host name given (port {})", port));
        return;
    }
    if (port < 1 || port > 65535) {
        impl_->Emit(
            Error, kUnsupportedOperation,
            fmt::format("Cannot connect to {}: the port must be 1 to 65535", Where(host, port)));
        return;
    }

    // There is no TLS in this program: every security mode, 3 included, is plain TCP.
    // Linger: the component writes out its own queue before it closes and the system then
    // closes gracefully in the background, which is what the linger option asks for; a timed
    // SO_LINGER would instead block this thread in close() and discard data at the deadline.
    // Keep-alive needs the socket to exist, so it is applied once connected.
    impl_->Start(host, port);
}

void HostSocket::Impl::Start(const std::string& toHost, int toPort) {
    auto l = std::make_shared<Link>(io);
    l->owner = this;
    l->host = toHost;
    l->port = toPort;
    link = l;
    // The link exists before the event, so that a Disconnect from its handler cuts it.
    if (!Emit(self.ConnectionStatus, std::string("Connecting"), 0,
              "Connecting to " + Where(toHost, toPort)) ||
        !l->Current())
        return;
    l->resolver.async_resolve(
        toHost, std::to_string(toPort), tcp::resolver::numeric_service,
        [l](const asio::error_code& ec, const tcp::resolver::results_type& results) {
            if (Impl* impl = l->Current()) impl->OnResolved(l, ec, results);
        });
}

void HostSocket::Impl::OnResolved(const LinkPtr& l, const asio::error_code& ec,
                                  const tcp::resolver::results_type& results) {
    if (ec) {
        CannotConnect(l, ec);
        return;
    }
    l->phase = Phase::Connecting;
    // Each address in turn, as a name may stand for several (::1 and 127.0.0.1).
    asio::async_connect(l->socket, results,
                        [l](const asio::error_code& error, const tcp::endpoint& peer) {
                            if (Impl* impl = l->Current()) impl->OnConnected(l, error, peer);
                        });
}

void HostSocket::Impl::OnConnected(const LinkPtr& l, const asio::error_code& ec,
                                   const tcp::endpoint& peer) {
    if (ec) {
        CannotConnect(l, ec);
        return;
    }
    l->phase = Phase::Up;
    asio::error_code ignored;
    // Reads and writes must never wait: DoEvents polls, and Send returns at once.
    l->socket.non_blocking(true, ignored);
    if (self.keepAlive_) l->socket.set_option(asio::socket_base::keep_alive(true), ignored);
    if (!Emit(self.ConnectionStatus, std::string("Connected"), 0,
              fmt::format("Connected to {} ({})", Where(l->host, l->port),
                          peer.address().to_string())) ||
        !l->Current())
        return;
    ArmRead(l);
}

bool HostSocket::Impl::CannotConnect(const LinkPtr& l, const asio::error_code& ec) {
    link.reset();
    l->Close();
    return Emit(self.Error, CodeOf(ec),
                fmt::format("Cannot connect to {}: {}", Where(l->host, l->port), ec.message()));
}

bool HostSocket::Connected() const {
    const auto& l = impl_->link;
    return l && (l->phase == Impl::Phase::Up || l->phase == Impl::Phase::Closing);
}

void HostSocket::Disconnect() {
    const Impl::LinkPtr l = impl_->link;
    if (!l) return;
    switch (l->phase) {
        case Impl::Phase::Up:
            // Graceful: the queued writes go out first, then the send side is shut and the
            // link ends.
            l->phase = Impl::Phase::Closing;
            impl_->StartWrite(l);
            break;
        case Impl::Phase::Resolving:
        case Impl::Phase::Connecting:
            impl_->Abort(false);
            break;
        case Impl::Phase::Closing:  // a second Disconnect cuts a close that hangs
            impl_->Abort(true);
            break;
        case Impl::Phase::Broken:  // already down; its report follows what came before
            break;
    }
}

void HostSocket::setAcceptData(bool accept) {
    if (accept == acceptData_) return;
    acceptData_ = accept;
    // Nothing waits in the component: what the host sent since comes from the system, through
    // the io_context or the next DoEvents, in order.
    if (accept && impl_->link) impl_->ArmRead(impl_->link);
}

std::int64_t HostSocket::BytesToWrite() const { return impl_->link ? impl_->link->Pending() : 0; }

// Drops the link or attempt at once; an established link reports its Disconnected when
// `report`. False when a handler destroyed the component.
bool HostSocket::Impl::Abort(bool report) {
    const LinkPtr old = std::move(link);
    link.reset();
    if (!old) return true;
    const bool wasUp = old->Open();
    old->Close();
    if (!report || !wasUp) return true;
    const std::string where = Where(old->host, old->port);
    if (old->failure)
        return Emit(self.Disconnected, CodeOf(old->failure),
                    fmt::format("Disconnected from {}: {}", where, old->failure.message()));
    return Emit(self.Disconnected, 0, "Disconnected from " + where);
}

// The end of an established link, seen by a read (`ec`: end of file or the error) or after a
// failed write. Reported once: the link is no longer current from here on.
void HostSocket::Impl::End(const LinkPtr& l, asio::error_code ec) {
    // Our own close ends when the host closes its side; anything else ends with a reason.
    const bool clean = !l->failure && ec == asio::error::eof && l->shutdownSent;
    const bool errorReported = static_cast<bool>(l->failure);
    if (l->failure) ec = l->failure;
    link.reset();
    l->Close();
    const std::string where = Where(l->host, l->port);
    if (clean) {
        Emit(self.Disconnected, 0, "Disconnected from " + where);
        return;
    }
    if (!errorReported &&
        !Emit(self.Error, CodeOf(ec), fmt::format("Connection to {}: {}", where, ec.message())))
        return;
    Emit(self.Disconnected, CodeOf(ec),
         fmt::format("Disconnected from {}: {}", where, ec.message()));
}

}  // namespace corvane
