// The serial port component on Windows: the Win32 error helpers and the handle's waits, all
// overlapped operations completing on the io_context.
#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/windows/stream_handle.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "links/serial_port_internal.h"

namespace corvane {

namespace serial {

// The system's text for a Win32 error code.
std::string ErrorText(unsigned long error);

// Errors of an operation on an open port that mean the device is no longer there: a pulled
// USB adapter (ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_OPERATION_ABORTED,
// ERROR_INVALID_HANDLE, ERROR_DEVICE_REMOVED, ...), and under Wine a hung-up pty
// (ERROR_BROKEN_PIPE on a read, ERROR_NOT_READY on everything else).
bool IsLossError(unsigned long error);

// The modem lines as the device reports them, as TIOCM_* bits; -1 when it has none (a pty
// under Wine refuses with ERROR_NOT_SUPPORTED).
int RealModemLines(void* device);

// A test's reader is looked at this often; a real device's Clear To Send is waited for.
constexpr int kModemPollMs = 100;

}  // namespace serial

// The handle and its operations: one read always pending while the port is open (its data
// goes to inBuffer_), at most one write, the wait for a change of Clear To Send where the
// device has the line, and a timer only for a test's modem line reader.
struct SerialPort::Watch {
    explicit Watch(asio::io_context& io) : stream(io), poll(io) {}

    void stopPoll() {
        polling = false;
        ++pollRound;
        poll.cancel();
    }

    asio::windows::stream_handle stream;  // owns the handle; closing it ends every operation
    bool reading = false;                 // a read is pending
    // The receive event: Waiting to be raised when enough characters wait, Off once raised
    // until Input has taken them (or with no threshold).
    enum class Read { Off, Waiting };
    Read read = Read::Off;
    void* writing = nullptr;    // the OVERLAPPED of the pending write, while there is one
    bool writePurged = false;   // ... and a purge of ours aborted it: its end is no loss
    bool modemWaiting = false;  // a WaitCommEvent is pending
    asio::steady_timer poll;
    bool polling = false;
    std::uint64_t pollRound = 0;  // a stopped poll's handler sees a later round and stays quiet
};

}  // namespace corvane
