#include "rig/loopback_host.h"

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <vector>

#include "rig/wait.h"

namespace corvane::rig {

namespace {

using asio::ip::tcp;

constexpr std::size_t kReadAtMost = 64 * 1024;

}  // namespace

struct LoopbackHost::Impl {
    // One accepted connection. Handlers hold it; `owner` is cleared when the host lets go of it.
    struct Conn {
        explicit Conn(tcp::socket s) : socket(std::move(s)) {}
        std::int64_t Pending() const {
            return static_cast<std::int64_t>(out.size() - outAt + queued.size());
        }

        Impl* owner = nullptr;
        tcp::socket socket;
        std::string out;  // the write in flight, from outAt on
        std::size_t outAt = 0;
        std::string queued;
        bool writing = false;
        bool waiting = false;  // a wait for readable data is pending
        bool closing = false;  // closeConnection: shut the send side once the queue is out
    };
    using ConnPtr = std::shared_ptr<Conn>;

    Impl(LoopbackHost& self, asio::io_context& io) : self(self), acceptor(io) {}
    ~Impl() {
        // Quietly: no connectedChanged from a host that is going away.
        asio::error_code ignored;
        acceptor.close(ignored);
        for (const ConnPtr& c : conns) {
            c->owner = nullptr;
            c->socket.close(ignored);
        }
    }

    void Accept();
    void OnAccepted(tcp::socket socket);
    void Arm(const ConnPtr& c);
    void OnReadable(const ConnPtr& c);
    void Send(const ConnPtr& c, const std::string& bytes);
    void StartWrite(const ConnPtr& c);
    void Drop(const ConnPtr& c);
    // Tells the listener; false when it destroyed the host.
    bool Tell(bool connected) {
        if (!self.connectedChanged) return true;
        const std::weak_ptr<char> stillAlive = alive;
        const auto call = self.connectedChanged;
        call(connected);
        return !stillAlive.expired();
    }

    LoopbackHost& self;
    tcp::acceptor acceptor;
    ConnPtr current;
    std::vector<ConnPtr> conns;  // every open one, the current one and those still closing
    std::vector<char> buffer = std::vector<char>(kReadAtMost);
    std::shared_ptr<char> alive = std::make_shared<char>();
};

LoopbackHost::LoopbackHost(asio::io_context& io, std::uint16_t port, std::string banner)
    : io_(io), impl_(std::make_unique<Impl>(*this, io)), banner_(std::move(banner)) {
    tcp::acceptor& a = impl_->acceptor;
    const tcp::endpoint at(asio::ip::address_v4::loopback(), port);
    asio::error_code ec;
    a.open(at.protocol(), ec);
    if (!ec) a.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) a.bind(at, ec);
    if (!ec) a.listen(asio::socket_base::max_listen_connections, ec);
    if (!ec) port_ = a.local_endpoint(ec).port();
    if (ec) {
        error_ = ec.message();
        asio::error_code ignored;
        a.close(ignored);
        return;
    }
    impl_->Accept();
}

LoopbackHost::~LoopbackHost() = default;

bool LoopbackHost::listening() const { return impl_->acceptor.is_open(); }

void LoopbackHost::stopListening() {
    asio::error_code ignored;
    impl_->acceptor.close(ignored);
}

bool LoopbackHost::connected() const { return impl_->current != nullptr; }

std::string LoopbackHost::takeReceived() {
    std::string all;
    all.swap(received_);
    return all;
}

void LoopbackHost::send(const std::string& bytes) {
    if (impl_->current) impl_->Send(impl_->current, bytes);
}

std::int64_t LoopbackHost::pendingOut() const {
    return impl_->current ? impl_->current->Pending() : 0;
}

void LoopbackHost::closeConnection() {
    const Impl::ConnPtr c = std::move(impl_->current);
    impl_->current.reset();
    if (!c) return;
    // The connection finishes on its own: the queue goes out, then the send side is shut,
    // and the socket closes when the peer has closed its side.
    c->closing = true;
    impl_->StartWrite(c);
    impl_->Tell(false);
}

void LoopbackHost::resetConnection() {
    if (!impl_->current) return;
    // Linger on with no time: close() sends RST instead of FIN.
    asio::error_code ignored;
    impl_->current->socket.set_option(asio::socket_base::linger(true, 0), ignored);
    impl_->Drop(impl_->current);
}

void LoopbackHost::setReading(bool on) {
    reading_ = on;
    // Off: armed waits find nothing to do, so the system's buffers fill and the peer's writes
    // back up.
    if (on)
        for (const Impl::ConnPtr& c : std::vector<Impl::ConnPtr>(impl_->conns)) impl_->Arm(c);
}

bool LoopbackHost::waitForConnection(int timeoutMs) {
    return RunUntil(
        io_, [this] { return connected(); }, timeoutMs);
}

bool LoopbackHost::waitForBytes(int n, int timeoutMs) {
    return RunUntil(
        io_, [this, n] { return received_.size() >= static_cast<std::size_t>(n); }, timeoutMs);
}

bool LoopbackHost::waitForDisconnect(int timeoutMs) {
    return RunUntil(
        io_, [this] { return !connected(); }, timeoutMs);
}

void LoopbackHost::Impl::Accept() {
    acceptor.async_accept([this, stillAlive = std::weak_ptr<char>(alive)](
                              const asio::error_code& ec, tcp::socket socket) {
        if (stillAlive.expired()) return;
        if (ec) {
            // Closed by stopListening, or out of descriptors: listening ends either way.
            if (ec != asio::error::operation_aborted) self.error_ = ec.message();
            return;
        }
        OnAccepted(std::move(socket));
        if (!stillAlive.expired() && acceptor.is_open()) Accept();
    });
}

void LoopbackHost::Impl::OnAccepted(tcp::socket socket) {
    auto c = std::make_shared<Conn>(std::move(socket));
    c->owner = this;
    asio::error_code ignored;
    // send() writes what the system takes at once; the rest goes from the io_context.
    c->socket.non_blocking(true, ignored);
    conns.push_back(c);
    current = c;
    ++self.connectionCount_;
    if (!Tell(true)) return;
    if (!self.banner_.empty() && current == c) Send(c, self.banner_);
    Arm(c);
}

void LoopbackHost::Impl::Arm(const ConnPtr& c) {
    if (!c->owner || c->waiting || !self.reading_) return;
    c->waiting = true;
    c->socket.async_wait(tcp::socket::wait_read, [c](const asio::error_code& ec) {
        c->waiting = false;
        if (!c->owner) return;
        if (ec)
            c->owner->Drop(c);
        else
            c->owner->OnReadable(c);
    });
}

void LoopbackHost::Impl::OnReadable(const ConnPtr& c) {
    if (!self.reading_) return;  // setReading(true) arms it again
    asio::error_code ec;
    const std::size_t n = c->socket.read_some(asio::buffer(buffer), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        Arm(c);
        return;
    }
    if (ec) {  // the peer closed or reset
        Drop(c);
        return;
    }
    self.received_.append(buffer.data(), n);
    ++self.readCount_;
    if (self.echo_) Send(c, std::string(buffer.data(), n));
    Arm(c);
}

void LoopbackHost::Impl::Send(const ConnPtr& c, const std::string& bytes) {
    if (bytes.empty() || c->closing || !c->owner) return;
    std::size_t taken = 0;
    if (!c->writing && c->Pending() == 0) {
        asio::error_code ec;
        taken = c->socket.write_some(asio::buffer(bytes), ec);
        if (ec && ec != asio::error::would_block && ec != asio::error::try_again) {
            Drop(c);
            return;
        }
    }
    c->queued.append(bytes, taken);
    StartWrite(c);
}

void LoopbackHost::Impl::StartWrite(const ConnPtr& c) {
    if (c->writing || !c->owner) return;
    if (c->outAt == c->out.size()) {
        c->out.clear();
        c->outAt = 0;
        c->out.swap(c->queued);
    }
    if (c->out.empty()) {
        asio::error_code ignored;
        if (c->closing) c->socket.shutdown(tcp::socket::shutdown_send, ignored);
        return;
    }
    c->writing = true;
    c->socket.async_write_some(asio::buffer(c->out.data() + c->outAt, c->out.size() - c->outAt),
                               [c](const asio::error_code& ec, std::size_t n) {
                                   c->writing = false;
                                   if (!c->owner) return;
                                   if (ec) {
                                       c->owner->Drop(c);
                                       return;
                                   }
                                   c->outAt += n;
                                   c->owner->StartWrite(c);
                               });
}

void LoopbackHost::Impl::Drop(const ConnPtr& c) {
    if (!c->owner) return;
    c->owner = nullptr;
    asio::error_code ignored;
    c->socket.close(ignored);
    std::erase(conns, c);
    if (current != c) return;
    current.reset();
    Tell(false);
}

}  // namespace corvane::rig
