// The host socket's data path: reading while data is accepted, DoEvents' poll, and the write
// queue behind Send.
#include <fmt/format.h>

#include <asio/post.hpp>

#include "links/host_socket.h"
#include "links/host_socket_internal.h"

namespace corvane {

using namespace hostsock;

void HostSocket::DoEvents() {
    if (!acceptData_) return;
    impl_->Poll();
}

void HostSocket::Send(const std::string& text) {
    if (text.empty()) return;
    const Impl::LinkPtr l = impl_->link;
    // A closing link takes nothing more: its send side is about to be shut.
    if (!l || l->phase != Impl::Phase::Up) {
        const std::string where =
            impl_->host.empty() ? std::string() : " to " + Where(impl_->host, impl_->port);
        impl_->Emit(Error, kOperationError,
                    fmt::format("Not connected: {} bytes not sent{}", text.size(), where));
        return;
    }
    // What the system does not take now waits in the queue and goes from the io_context, so
    // nothing is lost and this never blocks.
    l->queued += text;
    impl_->StartWrite(l);
}

// One write in flight at a time; BytesToWrite counts down as the system takes each piece.
void HostSocket::Impl::StartWrite(const LinkPtr& l) {
    if (l->writing) return;
    if (l->outAt == l->out.size()) {
        l->out.clear();
        l->outAt = 0;
        // A burst of megabytes need not keep its memory for the typing that follows.
        if (l->out.capacity() > 4 * kReadAtMost) l->out.shrink_to_fit();
        l->out.swap(l->queued);
    }
    if (l->out.empty()) {
        if (l->phase == Phase::Closing && !l->shutdownSent) {
            l->shutdownSent = true;
            asio::error_code ec;
            l->socket.shutdown(tcp::socket::shutdown_send, ec);
            if (ec) {
                WriteFailed(l, ec);
                return;
            }
            // Everything went out and the host has our end of file: the link is down now, as
            // a socket's close is, without waiting for a host that may never close its side.
            End(l, asio::error::eof);
        }
        return;
    }
    l->writing = true;
    l->socket.async_write_some(asio::buffer(l->out.data() + l->outAt, l->out.size() - l->outAt),
                               [l](const asio::error_code& ec, std::size_t n) {
                                   l->writing = false;
                                   if (Impl* impl = l->Current()) impl->OnWritten(l, ec, n);
                               });
}

void HostSocket::Impl::OnWritten(const LinkPtr& l, const asio::error_code& ec, std::size_t n) {
    if (ec) {
        WriteFailed(l, ec);
        return;
    }
    l->outAt += n;
    StartWrite(l);
}

// The link is down for sending. Its end is reported once what the host sent before it has been
// read and delivered; the error is told now, so that a wait for the link wakes.
void HostSocket::Impl::WriteFailed(const LinkPtr& l, const asio::error_code& ec) {
    if (!l->Open() || l->phase == Phase::Broken) return;
    l->phase = Phase::Broken;
    l->failure = ec;
    l->out.clear();
    l->outAt = 0;
    l->queued.clear();
    if (!Emit(self.Error, CodeOf(ec),
              fmt::format("Connection to {}: {}", Where(l->host, l->port), ec.message())) ||
        !l->Current())
        return;
    ArmRead(l);
}

// Keeps one read armed while data is accepted: a wait for readable data, after which the data
// is read and handed on at once. Reading only when it is handed on keeps DoEvents' reads and
// the io_context's in order.
void HostSocket::Impl::ArmRead(const LinkPtr& l) {
    if (!self.acceptData_ || !l->Open()) return;
    if (l->phase == Phase::Broken) {
        // After a failed write the socket need not turn readable again: take turns from the
        // io_context until the rest is read.
        if (l->turnPosted) return;
        l->turnPosted = true;
        asio::post(io, [l] {
            l->turnPosted = false;
            if (Impl* impl = l->Current()) impl->OnReadable(l, {});
        });
        return;
    }
    if (l->waitArmed) return;
    l->waitArmed = true;
    l->socket.async_wait(tcp::socket::wait_read, [l](const asio::error_code& ec) {
        l->waitArmed = false;
        if (Impl* impl = l->Current()) impl->OnReadable(l, ec);
    });
}

void HostSocket::Impl::OnReadable(const LinkPtr& l, const asio::error_code& ec) {
    if (ec) {
        End(l, ec);
        return;
    }
    if (!self.acceptData_) return;  // setAcceptData(true) arms it again
    // One piece per turn, so that the rest of the io_context keeps its pace under a flood.
    if (ReadSome(l, 1)) ArmRead(l);
}

// Reads without waiting until `want` bytes were handed on, nothing more is there or data is no
// longer accepted. False when the link ended or the component went away meanwhile.
bool HostSocket::Impl::ReadSome(const LinkPtr& l, std::size_t want) {
    std::size_t taken = 0;
    do {
        asio::error_code ec;
        const std::size_t n = l->socket.read_some(asio::buffer(readBuffer), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again ||
            ec == asio::error::interrupted) {
            // A broken link has delivered everything that came before its end.
            if (l->phase != Phase::Broken) return true;
            End(l, l->failure);
            return false;
        }
        if (ec) {
            End(l, ec);
            return false;
        }
        taken += n;
        if (!Emit(self.DataIn, std::string(readBuffer.data(), n), false) || !l->Current())
            return false;
    } while (taken < want && self.acceptData_);
    return true;
}

// What the system holds now, handed on at once; a close by the host is noticed when nothing
// is left to read.
void HostSocket::Impl::Poll() {
    const LinkPtr l = link;
    if (!l || !l->Open()) return;
    asio::error_code ec;
    const std::size_t waiting = l->socket.available(ec);
    ReadSome(l, ec || waiting == 0 ? 1 : waiting);
}

}  // namespace corvane
