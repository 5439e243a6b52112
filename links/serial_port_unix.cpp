// The serial port component on Linux, on plain termios. Everything runs on the io_context's thread:
// the descriptor is non-blocking, output that the device does not take at once waits in
// outQueue_ and is finished by a write-readiness wait, and a timer watches the modem lines
// and the device's presence.
//
// What a Linux pty does when its master closes (measured on this machine's kernel, and what
// the code below relies on): the slave is hung up. poll() on it reports
// POLLIN|POLLOUT|POLLERR|POLLHUP at once; read() returns 0 (end of file, not an error);
// write(), FIONREAD, tcgetattr and tcsetattr fail with EIO; characters that were waiting
// on the slave are discarded by the hang-up. A raw tty with VMIN=0 VTIME=0 also returns 0
// from read() when nothing waits, so a read of 0 says nothing: loss is found with
// poll() (POLLHUP/POLLERR/POLLNVAL) and with the EIO/ENXIO/ENODEV errors of write and
// ioctl. A pulled USB adapter hangs its tty up the same way.
#include "links/serial_port_unix.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "links/serial_port.h"

namespace corvane {

namespace serial {

std::string ErrorText(int e) { return std::strerror(e); }

bool IsLossErrno(int e) { return e == EIO || e == ENXIO || e == ENODEV || e == EBADF; }

bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace serial

using namespace serial;

namespace {

constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kMaxReadPerCall = 64 * 1024 * 1024;

}  // namespace

std::string DevicePathForPort(const std::string& programDir, int n) {
    if (n < 1) return {};
    if (!programDir.empty()) {
        // A link whose device is gone still names the port: opening it fails, rather than
        // opening /dev/ttyS(N-1), another device that the operator did not choose.
        const std::filesystem::path link =
            std::filesystem::path(programDir) / "ports" / fmt::format("com{}", n);
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(link, ec)))
            return link.string();
    }
    return fmt::format("/dev/ttyS{}", n - 1);
}

PortHandle SerialPort::handle() const { return fd_; }

bool SerialPort::deviceGone() { return HungUp(fd_); }

void SerialPort::setPortOpen(bool open) {
    if (!open) {
        closeDevice();  // closing a closed port does nothing
        return;
    }
    if (fd_ >= 0) Raise(fmt::format("com{}: port already open", port_));

    const std::string path =
        devicePath_.empty() ? DevicePathForPort(programDir_, port_) : devicePath_;
    if (path.empty())
        Raise(fmt::format("com{}: there is no such port (port numbers start at 1)", port_));
    const std::string where = devicePath_.empty() ? fmt::format("com{} ({})", port_, path) : path;
    where_ = where;

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == EBUSY)
            Raise(fmt::format("{}: in use by another program ({})", where, ErrorText(e)));
        Raise(fmt::format("{}: {}", where, ErrorText(e)));
    }
    if (!::isatty(fd)) {
        ::close(fd);
        Raise(fmt::format("{}: not a serial port (not a terminal device)", where));
    }
    // The lock keeps a second SerialPort (or any program that locks as we do) out; TIOCEXCL
    // keeps out other openers where the kernel honours it (not for root).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
        ::close(fd);
        Raise(fmt::format("{}: in use by another program", where));
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;

    // Line hardware is decided by the device itself, never by an injected reader: a pty
    // refuses TIOCMGET (and forces 8 bits, no parity), so on a pty the settings are applied
    // as far as it holds them and the rest is accepted. The reader only drives the Clear To
    // Send poll below, so a test's fake reader makes a pty "have a CTS line" without making
    // its forced 8N1 a settings error.
    hasLineHardware_ = RealModemLines(fd_) >= 0;
    try {
        applySettings(settings_, handshaking_);
    } catch (const CommError&) {
        closeDevice();
        throw;
    }
    applyModemLines();
    if (fd_ < 0) Raise(fmt::format("{}: the device went away while opening", where));

    ++opens_;
    std::error_code ec;
    watch_->descriptor.assign(fd_, ec);
    if (ec) {
        closeDevice();
        Raise(fmt::format("{}: {}", where, ec.message()));
    }
    watch_->read = rThreshold_ > 0 ? Watch::Read::Waiting : Watch::Read::Off;
    armRead();

    lastModemLines_ = modemLineReader_(fd_);
    armModemPoll();
}

int SerialPort::InBufferCount() {
    if (fd_ < 0) return 0;
    if (HungUp(fd_)) {
        portLost("the device hung up");
        return 0;
    }
    int avail = 0;
    if (::ioctl(fd_, FIONREAD, &avail) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) {
            portLost(ErrorText(e));
            return 0;
        }
        avail = 0;
    }
    const std::int64_t total = static_cast<std::int64_t>(inBuffer_.size()) + std::max(avail, 0);
    return static_cast<int>(std::min<std::int64_t>(total, INT_MAX));
}

std::string SerialPort::Input() {
    if (fd_ < 0) Raise(fmt::format("{}: port not open", PortName()));
    if (HungUp(fd_)) {
        portLost("the device hung up");
        Raise(fmt::format("{}: port lost (the device hung up)", PortName()));
    }
    // Read until nothing waits: with VMIN=0 a read of 0 means "nothing now", EAGAIN too.
    std::size_t taken = 0;
    while (taken < kMaxReadPerCall) {
        const std::size_t old = inBuffer_.size();
        inBuffer_.resize(old + kReadChunk);
        const ssize_t n = ::read(fd_, inBuffer_.data() + old, kReadChunk);
        const int e = errno;
        inBuffer_.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n > 0) {
            taken += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) break;
        if (e == EINTR) continue;
        if (e == EAGAIN || e == EWOULDBLOCK) break;
        portLost(ErrorText(e));
        if (inBuffer_.empty()) Raise(fmt::format("{}: port lost ({})", PortName(), ErrorText(e)));
        break;
    }
    std::string result;
    result.swap(inBuffer_);
    if (fd_ >= 0 && rThreshold_ > 0) {
        watch_->read = Watch::Read::Waiting;
        armRead();
    }
    armModemPoll();
    return result;
}

void SerialPort::setRThreshold(int count) {
    rThreshold_ = std::max(count, 0);
    if (fd_ >= 0) {
        watch_->read = rThreshold_ > 0 ? Watch::Read::Waiting : Watch::Read::Off;
        armRead();
    }
    armModemPoll();
}

void SerialPort::armRead() {
    Watch& w = *watch_;
    if (fd_ < 0 || w.read != Watch::Read::Waiting || w.readPending) return;
    w.readPending = true;
    w.descriptor.async_wait(
        asio::posix::stream_descriptor::wait_read,
        [this, alive = alive_, open = opens_](const std::error_code& ec) {
            // Aborted: the descriptor was given up by a close.
            if (!*alive || ec == asio::error::operation_aborted || open != opens_) return;
            watch_->readPending = false;
            if (fd_ >= 0 && watch_->read == Watch::Read::Waiting) onReadable();
        });
}

void SerialPort::onReadable() {
    // Once per Input: a reader that is not ready yet is not woken over and over.
    watch_->read = Watch::Read::Off;
    if (HungUp(fd_)) {
        portLost("the device hung up");
        return;
    }
    if (InBufferCount() < rThreshold_) {
        // Fewer than asked for: the poll looks again, since a wait would end at once.
        if (fd_ >= 0) watch_->read = Watch::Read::Below;
        armModemPoll();
        return;
    }
    commEvent_ = comEvReceive;
    armModemPoll();
    if (OnComm) OnComm();
}

void SerialPort::closeDevice() {
    Watch& w = *watch_;
    w.stopPoll();
    // Given up, not closed: the descriptor is ours to close below. Its waits end aborted.
    if (w.descriptor.is_open()) w.descriptor.release();
    w.read = Watch::Read::Off;
    w.readPending = false;
    w.writePending = false;
    outQueue_.clear();
    outSent_ = 0;
    inBuffer_.clear();
    if (fd_ >= 0) {
        // Dropping what waits also keeps close() from waiting for a slow line to drain.
        ::tcflush(fd_, TCIOFLUSH);
        if (outputDropWatcher_) outputDropWatcher_();
        ::ioctl(fd_, TIOCNXCL);  // the tty may stay open elsewhere: do not leave it exclusive
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
    hasLineHardware_ = false;
    lastModemLines_ = -1;
}

}  // namespace corvane
