// Output: the component's queue, finished by a write-readiness wait when the device does not
// take everything at once, what the device itself holds unsent, and the line's timing.
#include <fmt/core.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "links/serial_port.h"
#include "links/serial_port_internal.h"

namespace corvane {

using namespace serial;

namespace {

// What the device holds unsent; a pty holds nothing by this count.
int RealOutputQueue(int fd) {
    int n = 0;
    return ::ioctl(fd, TIOCOUTQ, &n) == 0 ? n : -1;
}

}  // namespace

void SerialPort::Output(const std::string& text) {
    if (fd_ < 0) Raise(fmt::format("{}: port not open", PortName()));
    if (HungUp(fd_)) {
        portLost("the device hung up");
        Raise(fmt::format("{}: port lost (the device hung up)", PortName()));
    }
    if (text.empty()) return;
    const bool idle = outSent_ == outQueue_.size();
    outQueue_.append(text);
    // With characters queued earlier the write wait is already armed; they go first.
    if (idle) flushOutput();
    if (fd_ < 0) Raise(fmt::format("{}: port lost while writing", PortName()));
}

void SerialPort::flushOutput() {
    if (fd_ < 0) return;
    while (outSent_ < outQueue_.size()) {
        const ssize_t n = ::write(fd_, outQueue_.data() + outSent_, outQueue_.size() - outSent_);
        if (n > 0) {
            outSent_ += static_cast<std::size_t>(n);
            written_ += n;
            continue;
        }
        if (n == 0) break;
        const int e = errno;
        if (e == EINTR) continue;
        if (e == EAGAIN || e == EWOULDBLOCK) break;
        portLost(ErrorText(e));
        return;
    }
    // What was sent is dropped once it is the larger part, so a long queue costs no more
    // than its own length to move.
    if (outSent_ == outQueue_.size()) {
        outQueue_.clear();
        outSent_ = 0;
    } else if (outSent_ > outQueue_.size() / 2) {
        outQueue_.erase(0, outSent_);
        outSent_ = 0;
    }
    if (!outQueue_.empty()) armWrite();
}

void SerialPort::armWrite() {
    Watch& w = *watch_;
    if (fd_ < 0 || w.writePending) return;
    w.writePending = true;
    w.descriptor.async_wait(
        asio::posix::stream_descriptor::wait_write,
        [this, alive = alive_, open = opens_](const std::error_code& ec) {
            // Aborted: the descriptor was given up by a close.
            if (!*alive || ec == asio::error::operation_aborted || open != opens_) return;
            watch_->writePending = false;
            flushOutput();
        });
}

int SerialPort::OutBufferCount() const {
    if (fd_ < 0) return 0;
    const std::int64_t device = std::max(outputQueueReader_(fd_), 0);
    const std::int64_t own = static_cast<std::int64_t>(outQueue_.size() - outSent_);
    return static_cast<int>(std::min<std::int64_t>(own + device, INT_MAX));
}

void SerialPort::setOutBufferCount(int count) {
    if (count != 0)
        Raise(fmt::format("{}: the output buffer can only be emptied (0), not set to {}",
                          PortName(), count));
    // An armed write wait finds nothing to send and is not armed again.
    outQueue_.clear();
    outSent_ = 0;
    if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
}

void SerialPort::setOutputQueueReader(OutputQueueReader reader) {
    if (reader)
        outputQueueReader_ = std::move(reader);
    else
        outputQueueReader_ = [](int fd) { return RealOutputQueue(fd); };
}

double SerialPort::BitsPerCharacter() const {
    return 1.0 + settings_.dataBits + (settings_.parity == Parity::None ? 0 : 1) +
           settings_.stopHalves / 2.0;
}

double SerialPort::LineMs(std::int64_t characters) const {
    return 1000.0 * BitsPerCharacter() * static_cast<double>(characters) / settings_.baud;
}

}  // namespace corvane
