// The serial port component on Linux: the device queries and the descriptor's waits.
#pragma once

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "links/serial_port_internal.h"

namespace corvane {

namespace serial {

std::string ErrorText(int e);

// Errors that mean the device is no longer there (hung up, unplugged, closed under us).
bool IsLossErrno(int e);

// A zero-timeout poll: true when the device has hung up or is in error.
bool HungUp(int fd);

// The modem lines as the device itself reports them; -1 (errno set) when it has none.
int RealModemLines(int fd);

// With modem lines and no wait for their change (the driver refuses it, or a test reads the
// lines): Clear To Send and presence, at most ten looks a second.
constexpr int kModemPollMs = 100;
// Behind a wait for their change: a driver may take the wait and never end it. A look costs
// an FTDI adapter a USB round trip, two wake-ups: every 4 s keeps an idle port well below one
// wake-up a second.
constexpr int kModemLookBehindWaitMs = 4000;
constexpr int kPresencePollMs = 50;  // without modem lines: presence only

// Waits for a change of the modem lines in a thread of its own that does nothing but block in
// that wait (TIOCMIWAIT) and hand each return to the io_context: all of the port's state stays
// on the io_context's thread, and an idle line costs no wake-ups.
class ModemWait {
  public:
    enum class Outcome {
        Changed,  // the lines changed: read them
        Refused,  // the driver does not wait (or wakes far too often): look at them instead
        Lost,     // the device went away; the thread has ended
    };
    // Blocks until the lines change: 0, or the errno of the failure (EINTR when woken).
    using BlockingWait = std::function<int(int fd)>;
    using Handler = std::function<void(Outcome, int error)>;

    explicit ModemWait(asio::io_context& io) : io_(io) {}
    ~ModemWait() { stop(); }
    ModemWait(const ModemWait&) = delete;
    ModemWait& operator=(const ModemWait&) = delete;

    // Starts the thread on fd (a running one is stopped first). `handler` runs on the
    // io_context for each return until stop(); the thread ends by itself after Refused or
    // Lost. `wait` replaces TIOCMIWAIT in tests.
    void start(int fd, Handler handler, BlockingWait wait = {});
    // Wakes the thread out of its wait and joins it: call it before the descriptor is closed,
    // since a close does not end a wait blocked in another thread. Returns that have not been
    // handled yet are dropped.
    void stop();
    // True from start() until stop(), also after the thread ended by itself.
    bool running() const { return thread_.joinable(); }

  private:
    struct Shared;  // the stop flag, the handler and the thread's end, shared with the thread
    // The thread: blocks in `wait` until stopped, handing each return to `io`.
    static void Run(std::shared_ptr<Shared> shared, int fd, BlockingWait wait,
                    asio::io_context& io);
    asio::io_context& io_;
    std::thread thread_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace serial

// The descriptor's readiness waits, the poll timer and the wait for a change of the modem
// lines. Asio's waits look at the descriptor's state when they start, so an armed wait on a
// ready descriptor completes at once.
struct SerialPort::Watch {
    explicit Watch(asio::io_context& io) : descriptor(io), poll(io), modemWait(io) {}

    // Runs the poll every pollEvery until stopPoll, calling the port's pollModemLines.
    void startPoll(SerialPort& port, std::chrono::milliseconds every);
    // Stops the poll and the modem lines' wait: the close calls it before the descriptor goes.
    void stopPoll();
    void stopTimer();

    // The receive event's wait: Off (no threshold, or an event not yet answered by Input),
    // Waiting (a wait is armed for characters or a hang-up), or Below (characters wait, fewer
    // than the threshold: the poll looks again, so a ready descriptor does not wake us over
    // and over).
    enum class Read { Off, Waiting, Below };

    asio::posix::stream_descriptor descriptor;
    Read read = Read::Off;
    bool readPending = false;   // an async_wait for reading is outstanding
    bool writePending = false;  // one for writing is
    asio::steady_timer poll;
    bool polling = false;
    std::chrono::milliseconds pollEvery{serial::kPresencePollMs};
    std::uint64_t pollRound = 0;  // a stopped poll's handler sees a later round and stays quiet
    serial::ModemWait modemWait;
    std::uint64_t waitRefusedOpen = 0;  // the open (opens_) whose driver refused the wait

  private:
    void schedulePoll(SerialPort& port);
};

}  // namespace corvane
