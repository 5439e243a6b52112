// Output on Linux: the queue handed to the descriptor, finished by a write-readiness wait when
// the device does not take everything at once, and what the device itself holds unsent.
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "links/serial_port.h"
#include "links/serial_port_unix.h"

namespace corvane {

using namespace serial;

// A pty holds nothing by this count.
int serial::RealOutputQueue(PortHandle fd) {
    int n = 0;
    return ::ioctl(fd, TIOCOUTQ, &n) == 0 ? n : -1;
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

void SerialPort::purgeDeviceOutput() { ::tcflush(fd_, TCOFLUSH); }

}  // namespace corvane
