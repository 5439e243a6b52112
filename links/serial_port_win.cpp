// The serial port component on Windows: the handle is opened for overlapped I/O and given to
// the io_context's completion port, so nothing here ever blocks its thread. One read is always
// pending while the port is open; its characters wait in inBuffer_ for Input.
//
// What Wine does on a pty (measured with wine 8; the tests under Wine rely on it): the port
// opens without exclusivity; GetCommModemStatus and EscapeCommFunction fail with
// ERROR_NOT_SUPPORTED, as a pty has no modem lines; a read with ReadIntervalTimeout set and
// no total timeout waits for the first character and returns what has come, while the
// MAXDWORD/MAXDWORD/constant combination never returns at all. When the pty's master closes,
// the pending read ends with ERROR_BROKEN_PIPE and every later call fails with
// ERROR_NOT_READY.
#ifdef _WIN32

#include "links/serial_port_win.h"

#include <fmt/core.h>

#include <algorithm>
#include <asio/buffer.hpp>
#include <asio/post.hpp>
#include <climits>
#include <system_error>

#include "links/serial_port.h"

// After Asio, which brings winsock2.h before windows.h.
#include <windows.h>

namespace corvane {

namespace serial {

std::string ErrorText(unsigned long error) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = n > 0 && text ? std::string(text, n) : std::string();
    if (text) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    if (result.empty()) result = fmt::format("error {}", error);
    return result;
}

bool IsLossError(unsigned long error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_BROKEN_PIPE:
        case ERROR_HANDLE_EOF:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
            return true;
        default:
            return false;
    }
}

}  // namespace serial

using namespace serial;

namespace {

// Input held for Input beyond which no read is started until Input has taken it: the device
// then holds the rest, as the kernel does on Linux.
constexpr std::size_t kMaxHeldInput = 64 * 1024 * 1024;

// A read asks for about a tenth of a second of the line, so a busy fast line still hands
// its characters over at once; a read returns with fewer when the line pauses.
std::size_t ReadSize(int baud) {
    return static_cast<std::size_t>(std::clamp(baud / 100, 256, 65536));
}

std::string LossText(const std::error_code& ec) {
    return ec == asio::error::eof ? "the device hung up" : ErrorText(ec.value());
}

}  // namespace

std::string DevicePathForPort(const std::string&, int n) {
    if (n < 1) return {};
    // Only COM1 to COM9 have a name of their own; the device namespace holds them all.
    return fmt::format("\\\\.\\COM{}", n);
}

PortHandle SerialPort::handle() const { return handle_; }

// The pending read finds a device that went away.
bool SerialPort::deviceGone() { return false; }

void SerialPort::setPortOpen(bool open) {
    if (!open) {
        closeDevice();  // closing a closed port does nothing
        return;
    }
    if (handle_) Raise(fmt::format("com{}: port already open", port_));

    const std::string path =
        devicePath_.empty() ? DevicePathForPort(programDir_, port_) : devicePath_;
    if (path.empty())
        Raise(fmt::format("com{}: there is no such port (port numbers start at 1)", port_));
    const std::string where = devicePath_.empty() ? fmt::format("com{} ({})", port_, path) : path;
    where_ = where;

    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND)
            Raise(fmt::format("{}: there is no such port ({})", where, ErrorText(e)));
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            Raise(fmt::format("{}: in use by another program ({})", where, ErrorText(e)));
        Raise(fmt::format("{}: {}", where, ErrorText(e)));
    }
    COMMPROP properties{};
    if (!::GetCommProperties(h, &properties)) {
        ::CloseHandle(h);
        Raise(fmt::format("{}: not a serial port", where));
    }
    std::error_code ec;
    watch_->stream.assign(h, ec);
    if (ec) {
        ::CloseHandle(h);
        Raise(fmt::format("{}: {}", where, ec.message()));
    }
    handle_ = h;

    // Line hardware is decided by the device itself, never by an injected reader: on a pty
    // the settings are applied as far as it holds them and the rest is accepted.
    hasLineHardware_ = RealModemLines(h) >= 0;
    // Reads wait for the first character and return what has come once the line pauses;
    // writes have no time limit.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    if (!::SetCommTimeouts(h, &timeouts)) {
        const DWORD e = ::GetLastError();
        closeDevice();
        Raise(fmt::format("{}: cannot set the port's timeouts: {}", where, ErrorText(e)));
    }
    try {
        applySettings(settings_, handshaking_);
    } catch (const CommError&) {
        closeDevice();
        throw;
    }
    applyModemLines();
    if (!handle_) Raise(fmt::format("{}: the device went away while opening", where));

    ++opens_;
    watch_->read = rThreshold_ > 0 ? Watch::Read::Waiting : Watch::Read::Off;
    startRead();
    lastModemLines_ = modemLineReader_(handle_);
    armModemPoll();
}

int SerialPort::InBufferCount() {
    if (!handle_) return 0;
    return static_cast<int>(std::min<std::size_t>(inBuffer_.size(), INT_MAX));
}

std::string SerialPort::Input() {
    if (!handle_) Raise(fmt::format("{}: port not open", PortName()));
    std::string result;
    result.swap(inBuffer_);
    if (rThreshold_ > 0) watch_->read = Watch::Read::Waiting;
    startRead();  // one held back by a full buffer goes on
    return result;
}

void SerialPort::setRThreshold(int count) {
    rThreshold_ = std::max(count, 0);
    if (!handle_) return;
    watch_->read = rThreshold_ > 0 ? Watch::Read::Waiting : Watch::Read::Off;
    // Characters that already wait raise the event from the io_context, as new ones would.
    asio::post(io_, [this, alive = alive_, open = opens_] {
        if (*alive && open == opens_ && handle_) raiseReceiveWhenDue();
    });
}

void SerialPort::startRead() {
    Watch& w = *watch_;
    if (!handle_ || w.reading || inBuffer_.size() >= kMaxHeldInput) return;
    // The buffer lives with the operation: a close leaves the read to end aborted later.
    auto buffer = std::make_shared<std::string>(ReadSize(settings_.baud), '\0');
    w.reading = true;
    w.stream.async_read_some(asio::buffer(*buffer), [this, alive = alive_, open = opens_, buffer](
                                                        const std::error_code& ec, std::size_t n) {
        if (!*alive || open != opens_ || !handle_) return;  // closed under it
        watch_->reading = false;
        inBuffer_.append(buffer->data(), n);
        onRead(ec, n);
    });
}

void SerialPort::onRead(const std::error_code& ec, std::size_t n) {
    if (ec) {
        portLost(LossText(ec));
        return;
    }
    if (n == 0) {
        // Nothing came, though a read waits for a character: ask the device whether it is
        // still there before waiting again.
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(handle_, &errors, &stat)) {
            const DWORD e = ::GetLastError();
            if (IsLossError(e)) {
                portLost(ErrorText(e));
                return;
            }
        }
    }
    startRead();
    raiseReceiveWhenDue();
}

void SerialPort::raiseReceiveWhenDue() {
    Watch& w = *watch_;
    // Once per Input: a reader that is not ready yet is not woken over and over.
    if (w.read != Watch::Read::Waiting || rThreshold_ <= 0 ||
        inBuffer_.size() < static_cast<std::size_t>(rThreshold_))
        return;
    w.read = Watch::Read::Off;
    commEvent_ = comEvReceive;
    if (OnComm) OnComm();
}

void SerialPort::closeDevice() {
    Watch& w = *watch_;
    w.stopPoll();
    if (handle_) {
        // Dropping what waits also keeps the close from waiting for a slow line to drain;
        // clearing the mask ends a pending wait for the modem lines.
        ::PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        if (outputDropWatcher_) outputDropWatcher_();
        ::SetCommMask(handle_, 0);
        std::error_code ec;
        w.stream.close(ec);  // pending operations end aborted, their handlers see the close
        handle_ = nullptr;
    }
    w.reading = false;
    w.writing = nullptr;
    w.writePurged = false;
    w.modemWaiting = false;
    w.read = Watch::Read::Off;
    outQueue_.clear();
    outSent_ = 0;
    inBuffer_.clear();
    hasLineHardware_ = false;
    lastModemLines_ = -1;
}

}  // namespace corvane

#endif  // _WIN32
