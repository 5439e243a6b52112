#include "rig/pty_terminal.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <system_error>

#include "rig/wait.h"

namespace corvane::rig {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("pty terminal: " + what);
}

std::string ErrorText(int e) { return std::strerror(e); }

void MakeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
}

constexpr int kSendBoundMs = 10000;
constexpr auto kLineStep = std::chrono::milliseconds(1);

// Which terminal made the link now at each path (the rig runs on one thread). pts numbers
// are reused, and so are inode numbers: a link is removed only when no later terminal of
// this process took the path over and the inode is still the one made here (another process
// may have replaced it).
std::map<std::string, const PtyTerminal*>& LinkOwners() {
    static std::map<std::string, const PtyTerminal*> owners;
    return owners;
}

}  // namespace

// The master's read wait (the notifier: `reading` says whether it is enabled) and the line's
// 1 ms timer, which reads at the line's pace while the line is busy.
struct PtyTerminal::Watch {
    explicit Watch(asio::io_context& io) : master(io), line(io) {}

    void startLine(PtyTerminal& terminal) {
        line.expires_after(kLineStep);
        scheduleLine(terminal, ++lineRound);
    }
    void stopLine() {
        ++lineRound;
        line.cancel();
    }

    asio::posix::stream_descriptor master;
    bool reading = false;
    bool readPending = false;
    asio::steady_timer line;
    std::uint64_t lineRound = 0;  // a stopped timer's handler sees a later round
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

  private:
    void scheduleLine(PtyTerminal& terminal, std::uint64_t round) {
        line.async_wait([&terminal, alive = alive, round](const std::error_code& ec) {
            if (!*alive || ec == asio::error::operation_aborted) return;
            Watch& w = *terminal.watch_;
            if (!terminal.lineRunning_ || round != w.lineRound) return;
            terminal.lineStep();
            if (!terminal.lineRunning_ || round != w.lineRound) return;  // it ran dry
            w.line.expires_after(kLineStep);
            w.scheduleLine(terminal, round);
        });
    }
};

PtyTerminal::PtyTerminal(asio::io_context& io, const std::string& programDir, int portNumber)
    : io_(io), start_(std::chrono::steady_clock::now()), watch_(std::make_unique<Watch>(io)) {
    char name[256] = {};
    if (::openpty(&masterFd_, &slaveFd_, name, nullptr, nullptr) != 0)
        Fail(fmt::format("openpty: {}", ErrorText(errno)));
    slavePath_ = name;
    for (int fd : {masterFd_, slaveFd_}) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        MakeRaw(fd);
    }
    std::error_code ec;
    watch_->master.assign(masterFd_, ec);
    if (ec) {
        const std::string why = ec.message();
        closeAll();
        Fail(fmt::format("cannot watch the master: {}", why));
    }

    const fs::path ports = fs::path(programDir) / "ports";
    fs::create_directories(ports, ec);
    if (ec || !fs::is_directory(ports, ec)) {
        closeAll();
        Fail(fmt::format("cannot create {}/ports", programDir));
    }
    linkPath_ = (ports / fmt::format("com{}", portNumber)).string();
    if (fs::exists(fs::symlink_status(linkPath_, ec))) ::unlink(linkPath_.c_str());
    if (::symlink(name, linkPath_.c_str()) != 0) {
        const int e = errno;
        closeAll();
        Fail(fmt::format("cannot link {} -> {}: {}", linkPath_, slavePath_, ErrorText(e)));
    }
    struct stat st {};
    if (::lstat(linkPath_.c_str(), &st) == 0) linkInode_ = st.st_ino;
    LinkOwners()[linkPath_] = this;

    watch_->reading = true;
    armRead();
}

PtyTerminal::~PtyTerminal() {
    closeAll();
    *watch_->alive = false;  // handlers still queued on the io_context touch nothing
    struct stat st {};
    const auto owner = LinkOwners().find(linkPath_);
    const bool mine = owner != LinkOwners().end() && owner->second == this;
    if (mine && ::lstat(linkPath_.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        st.st_ino == linkInode_)
        ::unlink(linkPath_.c_str());
    if (mine) LinkOwners().erase(owner);
}

std::int64_t PtyTerminal::nowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                start_)
        .count();
}

std::int64_t PtyTerminal::elapsedMs() const { return nowNs() / 1000000; }

void PtyTerminal::armRead() {
    Watch& w = *watch_;
    if (masterFd_ < 0 || !w.reading || w.readPending) return;
    w.readPending = true;
    // Asio's wait looks at the master when it starts: what already waits ends it at once.
    w.master.async_wait(asio::posix::stream_descriptor::wait_read,
                        [this, alive = w.alive](const std::error_code& ec) {
                            if (!*alive || ec == asio::error::operation_aborted) return;
                            watch_->readPending = false;
                            if (watch_->reading) drain();
                            armRead();
                        });
}

void PtyTerminal::setLineRate(int baud, double bitsPerChar) {
    baud_ = baud > 0 ? baud : 0;
    bitsPerChar_ = bitsPerChar > 0 ? bitsPerChar : 10;
    lineFreeAt_ = nowNs();
    if (baud_ == 0 && lineRunning_) {
        lineRunning_ = false;
        watch_->stopLine();
    }
    // A running line reads by its timer; the read wait would only end at once, over and over.
    if (lineRunning_) return;
    watch_->reading = true;
    armRead();
}

std::weak_ptr<bool> PtyTerminal::Alive() const { return watch_->alive; }

int PtyTerminal::unread() const {
    int n = 0;
    return masterFd_ >= 0 && ::ioctl(masterFd_, FIONREAD, &n) == 0 ? n : 0;
}

void PtyTerminal::take(const char* bytes, std::size_t n) {
    const std::int64_t now = elapsedMs();
    received_.append(bytes, n);
    readTotal_ += static_cast<std::int64_t>(n);
    for (std::size_t i = 0; i < n; ++i) arrivals_.emplace_back(now, bytes[i]);
}

void PtyTerminal::followFraming(std::function<double()> bits) { framing_ = std::move(bits); }

std::int64_t PtyTerminal::charTimeNs() const {
    const double bits = framing_ ? framing_() : bitsPerChar_;
    return static_cast<std::int64_t>(1e9 * (bits > 0 ? bits : 10) / baud_);
}

// Takes what the line has sent since the last look; stops the look once it runs dry.
void PtyTerminal::lineStep() {
    if (masterFd_ < 0) return;
    const std::int64_t now = nowNs();
    if (!lineRunning_) {
        // The line was idle: it starts on what has just been written, now.
        lineFreeAt_ = now;
        watch_->reading = false;
        lineRunning_ = true;
        watch_->startLine(*this);
        return;
    }
    const std::int64_t charNs = charTimeNs();
    const std::int64_t due = (now - lineFreeAt_) / charNs;
    if (due <= 0) return;
    char buf[65536];
    const ssize_t n =
        ::read(masterFd_, buf, static_cast<std::size_t>(std::min<std::int64_t>(due, sizeof buf)));
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        lineRunning_ = false;  // no slave is open (see drain): stop looking
        watch_->stopLine();
        return;
    }
    const std::int64_t got = n > 0 ? n : 0;
    take(buf, static_cast<std::size_t>(got));
    if (got < due) {
        // Ran dry: the next character starts when it is written.
        lineFreeAt_ = now;
        if (unread() == 0) {
            lineRunning_ = false;
            watch_->stopLine();
            watch_->reading = true;
            armRead();
        }
    } else {
        lineFreeAt_ += got * charNs;
    }
}

void PtyTerminal::drain() {
    if (masterFd_ < 0) return;
    if (baud_ > 0) {
        lineStep();
        return;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(masterFd_, buf, sizeof buf);
        if (n > 0) {
            take(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: no slave is open. Cannot happen while the rig holds its own slave
            // descriptor; stop listening rather than spin on it.
            watch_->reading = false;
        }
        return;  // 0 (raw, VMIN=0: nothing waits) or EAGAIN
    }
}

void PtyTerminal::send(const std::string& bytes) {
    if (masterFd_ < 0) Fail("send after hang-up");
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendBoundMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            Fail(fmt::format("write: {}", ErrorText(errno)));
        // The line is full: let the program (same thread) take some, within the bound.
        if (std::chrono::steady_clock::now() >= deadline)
            Fail(fmt::format("the program did not take {} of {} bytes within {} ms",
                             bytes.size() - done, bytes.size(), kSendBoundMs));
        RunUntil(
            io_,
            [this] {
                if (masterFd_ < 0) return true;
                pollfd p{masterFd_, POLLOUT, 0};
                return ::poll(&p, 1, 0) > 0 && (p.revents & POLLOUT);
            },
            20);
        if (masterFd_ < 0) Fail("hung up while sending");
    }
}

std::string PtyTerminal::takeReceived() {
    drain();
    std::string out;
    out.swap(received_);
    return out;
}

std::string PtyTerminal::readFor(int ms) {
    RunFor(io_, ms);
    return takeReceived();
}

bool PtyTerminal::waitForBytes(int n, int timeoutMs) {
    return RunUntil(
        io_,
        [this, n] {
            drain();
            return received_.size() >= static_cast<std::size_t>(std::max(n, 0));
        },
        timeoutMs);
}

void PtyTerminal::hangUp() {
    drain();
    closeAll();
}

void PtyTerminal::closeAll() {
    lineRunning_ = false;
    watch_->stopLine();
    watch_->reading = false;
    watch_->readPending = false;
    // Given up, not closed: the descriptor is closed below. Its wait ends aborted.
    if (watch_->master.is_open()) watch_->master.release();
    if (masterFd_ >= 0) ::close(masterFd_);
    if (slaveFd_ >= 0) ::close(slaveFd_);
    masterFd_ = -1;
    slaveFd_ = -1;
}

}  // namespace corvane::rig
