// Output on Windows: the queue handed to the device one overlapped write at a time, and what
// the device holds unsent (ClearCommError's cbOutQue, which counts a pending write).
#ifdef _WIN32

#include <algorithm>
#include <asio/windows/overlapped_ptr.hpp>
#include <climits>
#include <memory>
#include <string>
#include <system_error>

#include "links/serial_port.h"
#include "links/serial_port_win.h"

// After Asio, which brings winsock2.h before windows.h.
#include <windows.h>

namespace corvane {

using namespace serial;

namespace {

// The most handed to one write: a long queue is not copied whole.
constexpr std::size_t kMaxWrite = 64 * 1024;

}  // namespace

// A pty under Wine counts nothing, not even a pending write.
int serial::RealOutputQueue(PortHandle device) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(device, &errors, &stat)) return -1;
    return static_cast<int>(std::min<DWORD>(stat.cbOutQue, INT_MAX));
}

void SerialPort::flushOutput() {
    Watch& w = *watch_;
    if (!handle_ || w.writing || outSent_ == outQueue_.size()) return;
    // What a pending write holds is the device's: cbOutQue counts it, as TIOCOUTQ counts
    // what write() handed to a tty. It lives with the operation, whatever the queue does.
    const std::size_t n = std::min(outQueue_.size() - outSent_, kMaxWrite);
    auto chunk = std::make_shared<std::string>(outQueue_, outSent_, n);
    outSent_ += n;
    written_ += static_cast<std::int64_t>(n);
    if (outSent_ == outQueue_.size()) {
        outQueue_.clear();
        outSent_ = 0;
    } else if (outSent_ > outQueue_.size() / 2) {
        outQueue_.erase(0, outSent_);
        outSent_ = 0;
    }
    // Written by hand rather than through the stream, so that a flush can cancel this write
    // and no other operation of the handle: Wine's PURGE_TXABORT leaves a pending write going.
    asio::windows::overlapped_ptr write(io_, [this, alive = alive_, open = opens_, chunk](
                                                 const std::error_code& ec, std::size_t taken) {
        if (!*alive || open != opens_ || !handle_) return;  // closed under it
        watch_->writing = nullptr;
        if (!ec && taken < chunk->size()) {
            // Taken only in part: the rest goes first in the next write.
            const std::size_t rest = chunk->size() - taken;
            outQueue_.insert(outSent_, *chunk, taken, rest);
            written_ -= static_cast<std::int64_t>(rest);
        }
        onWritten(ec);
    });
    w.writePurged = false;
    const BOOL ok = ::WriteFile(handle_, chunk->data(), static_cast<DWORD>(chunk->size()), nullptr,
                                write.get());
    const DWORD e = ok ? 0 : ::GetLastError();
    if (!ok && e != ERROR_IO_PENDING) {
        w.writing = write.get();
        write.complete(std::error_code(static_cast<int>(e), std::system_category()), 0);
    } else {
        w.writing = write.release();  // the completion port reports it, also when it ended at once
    }
}

void SerialPort::onWritten(const std::error_code& ec) {
    Watch& w = *watch_;
    const bool purged = w.writePurged;
    w.writePurged = false;
    if (ec && !(purged && ec == asio::error::operation_aborted)) {
        portLost(ErrorText(ec.value()));
        return;
    }
    // Wine goes on with a write it was told to cancel until it ends: what it put in the
    // device after the flush goes as well, before anything queued since.
    if (purged) ::PurgeComm(handle_, PURGE_TXCLEAR);
    flushOutput();
}

void SerialPort::purgeDeviceOutput() {
    Watch& w = *watch_;
    // The pending write first, so that nothing of it follows the purge of the device's buffer.
    if (w.writing) {
        w.writePurged = true;
        ::CancelIoEx(handle_, static_cast<OVERLAPPED*>(w.writing));
    }
    ::PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
}

}  // namespace corvane

#endif  // _WIN32
