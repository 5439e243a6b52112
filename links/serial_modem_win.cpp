// The modem lines on Windows: DTR and RTS as the caller sets them, and a change of Clear To
// Send reported as an event. A device with the line is waited on with WaitCommEvent(EV_CTS),
// completing on the io_context, so an idle line costs nothing; a pty has no lines and runs
// nothing; only a test's reader is looked at on a timer.
#ifdef _WIN32

#include <asio/windows/overlapped_ptr.hpp>
#include <memory>
#include <system_error>

#include "links/serial_port.h"
#include "links/serial_port_win.h"

// After Asio, which brings winsock2.h before windows.h.
#include <windows.h>

namespace corvane {

using namespace serial;

int serial::RealModemLines(void* device) {
    DWORD status = 0;
    if (!::GetCommModemStatus(device, &status)) return -1;
    // As TIOCM_* bits, which the readers return on every platform.
    int lines = 0;
    if (status & MS_CTS_ON) lines |= kModemLineCTS;
    if (status & MS_DSR_ON) lines |= 0x100;   // TIOCM_DSR
    if (status & MS_RING_ON) lines |= 0x080;  // TIOCM_RNG
    if (status & MS_RLSD_ON) lines |= 0x040;  // TIOCM_CD
    return lines;
}

void SerialPort::applyModemLines() {
    // A device without modem lines (a pty) keeps only the flags.
    if (!handle_ || !hasLineHardware_) return;
    for (const DWORD function :
         {dtr_ ? DWORD(SETDTR) : DWORD(CLRDTR), rts_ ? DWORD(SETRTS) : DWORD(CLRRTS)}) {
        if (!::EscapeCommFunction(handle_, function)) {
            const DWORD e = ::GetLastError();
            if (IsLossError(e)) {
                portLost(ErrorText(e));
                return;
            }
        }
    }
}

void SerialPort::setModemLineReader(ModemLineReader reader) {
    modemReaderInjected_ = static_cast<bool>(reader);
    if (reader)
        modemLineReader_ = std::move(reader);
    else
        modemLineReader_ = [](PortHandle device) { return RealModemLines(device); };
    if (handle_) {
        lastModemLines_ = modemLineReader_(handle_);
        watch_->stopPoll();
        armModemPoll();
    }
}

void SerialPort::armModemPoll() {
    Watch& w = *watch_;
    if (!handle_ || lastModemLines_ < 0) {
        w.stopPoll();
        return;
    }
    if (!modemReaderInjected_) {
        w.stopPoll();
        startModemWait();
        return;
    }
    // A test's reader: no real wait would see its lines change.
    if (w.polling) return;
    w.polling = true;
    const std::uint64_t round = ++w.pollRound;
    w.poll.expires_after(std::chrono::milliseconds(kModemPollMs));
    w.poll.async_wait([this, alive = alive_, round](const std::error_code& ec) {
        if (!*alive || ec == asio::error::operation_aborted) return;
        Watch& w = *watch_;
        if (!w.polling || round != w.pollRound) return;
        w.polling = false;
        pollModemLines();
        armModemPoll();
    });
}

void SerialPort::startModemWait() {
    Watch& w = *watch_;
    if (!handle_ || w.modemWaiting) return;
    if (!::SetCommMask(handle_, EV_CTS)) {
        const DWORD e = ::GetLastError();
        if (IsLossError(e)) portLost(ErrorText(e));
        return;  // no wait to be had: the line's changes go unreported, as on a pty
    }
    // The mask is written when the wait ends: it lives with the operation.
    auto mask = std::make_shared<DWORD>(0);
    asio::windows::overlapped_ptr wait(
        io_, [this, alive = alive_, open = opens_, mask](const std::error_code& ec, std::size_t) {
            if (!*alive || open != opens_ || !handle_) return;  // closed under it
            watch_->modemWaiting = false;
            if (ec) {
                if (IsLossError(ec.value())) portLost(ErrorText(ec.value()));
                return;  // any other failure: no more waits, rather than a busy loop
            }
            pollModemLines();
            startModemWait();
        });
    w.modemWaiting = true;
    const BOOL ok = ::WaitCommEvent(handle_, mask.get(), wait.get());
    const DWORD e = ok ? 0 : ::GetLastError();
    if (!ok && e != ERROR_IO_PENDING)
        wait.complete(std::error_code(static_cast<int>(e), std::system_category()), 0);
    else
        wait.release();  // the completion port reports it, also when it ended at once
}

void SerialPort::pollModemLines() {
    if (!handle_ || lastModemLines_ < 0) return;
    const int lines = modemLineReader_(handle_);
    if (lines < 0) {
        if (RealModemLines(handle_) < 0 && IsLossError(::GetLastError()))
            portLost(ErrorText(::GetLastError()));
        return;
    }
    const bool ctsChanged = ((lines ^ lastModemLines_) & kModemLineCTS) != 0;
    lastModemLines_ = lines;
    if (ctsChanged) raiseEvent(comEvCTS);
}

}  // namespace corvane

#endif  // _WIN32
