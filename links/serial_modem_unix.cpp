// The modem lines: DTR and RTS as the caller sets them, a change of Clear To Send reported as
// an event, and a device that went away found while nothing else would notice. Where the
// driver can, a helper thread waits for the lines to change, so an idle line costs nothing;
// elsewhere a timer looks at them.
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <asio/post.hpp>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>

#include "links/serial_port.h"
#include "links/serial_port_unix.h"

namespace corvane {

using namespace serial;

namespace {

static_assert(TIOCM_CTS == kModemLineCTS, "the readers' Clear To Send bit is TIOCM_CTS");

// Wakes the wait's thread out of its ioctl. SIGURG is ignored by default, so a stray one
// harms nothing; its handler does nothing and is installed without SA_RESTART, so the
// ioctl returns EINTR instead of being restarted.
constexpr int kWakeSignal = SIGURG;

// A driver that returns from the wait more often than this is not waiting: the lines are
// looked at on the timer instead.
constexpr int kMaxWaitReturnsPerSecond = 50;

void NothingToDo(int) {}

void InstallWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction old {};
        sigaction(kWakeSignal, nullptr, &old);
        // A handler of someone else's stays: it interrupts the wait as well.
        if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) return;
        struct sigaction wake {};
        wake.sa_handler = NothingToDo;
        sigemptyset(&wake.sa_mask);
        wake.sa_flags = 0;
        sigaction(kWakeSignal, &wake, nullptr);
    });
}

int WaitForModemChange(int fd) {
    return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) == 0 ? 0 : errno;
}

}  // namespace

struct ModemWait::Shared {
    Handler handler;       // used on the io_context's thread only
    bool dropped = false;  // stop() has run: queued returns are not handled
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;  // the thread has left its loop (under mutex)
};

void ModemWait::start(int fd, Handler handler, BlockingWait wait) {
    stop();
    InstallWakeHandler();
    auto shared = std::make_shared<Shared>();
    shared->handler = std::move(handler);
    if (!wait) wait = WaitForModemChange;
    shared_ = shared;
    // The thread starts with every signal blocked and takes only its wake-up signal, so
    // signals meant for the program are handled where they always were.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    try {
        thread_ = std::thread(Run, shared, fd, std::move(wait), std::ref(io_));
    } catch (const std::system_error&) {
        // No thread to be had: the lines are looked at on the timer instead.
        shared_.reset();
        asio::post(io_, [shared] { shared->handler(Outcome::Refused, EAGAIN); });
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void ModemWait::Run(std::shared_ptr<Shared> shared, int fd, BlockingWait wait,
                    asio::io_context& io) {
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, kWakeSignal);
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    auto windowStart = std::chrono::steady_clock::now();
    int returns = 0;
    while (!shared->stopping.load()) {
        const int error = wait(fd);
        if (shared->stopping.load()) break;
        if (error == EINTR) continue;
        Outcome outcome = Outcome::Changed;
        if (error == 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now - windowStart >= std::chrono::seconds(1)) {
                windowStart = now;
                returns = 0;
            }
            if (++returns > kMaxWaitReturnsPerSecond) outcome = Outcome::Refused;
        } else if (IsLossErrno(error)) {
            outcome = Outcome::Lost;
        } else {
            // EINVAL, ENOTTY, ENOIOCTLCMD: the driver has no such wait. Anything else also
            // leaves the lines to the timer, which finds what is wrong.
            outcome = Outcome::Refused;
        }
        asio::post(io, [shared, outcome, error] {
            if (!shared->dropped) shared->handler(outcome, error);
        });
        if (outcome != Outcome::Changed) break;
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->done = true;
    shared->ended.notify_all();
}

void ModemWait::stop() {
    if (!thread_.joinable()) return;
    Shared& shared = *shared_;
    shared.dropped = true;
    shared.stopping.store(true);
    {
        // A signal that comes just before the thread enters its wait is lost, and the wait
        // would not end: it is sent again until the thread has ended.
        std::unique_lock<std::mutex> lock(shared.mutex);
        for (int i = 0; !shared.done && i < 400; ++i) {
            pthread_kill(thread_.native_handle(), kWakeSignal);
            shared.ended.wait_for(lock, std::chrono::milliseconds(5), [&] { return shared.done; });
        }
    }
    if (shared.done) {
        thread_.join();
    } else {
        // A driver that restarts the wait whatever happens: the thread touches nothing but
        // its shared state, and leaves its loop whenever the wait returns.
        thread_.detach();
    }
    shared_.reset();
}

int serial::RealModemLines(int fd) {
    int bits = 0;
    return ::ioctl(fd, TIOCMGET, &bits) == 0 ? bits : -1;
}

void SerialPort::applyModemLines() {
    // A device without modem lines (a pty) keeps only the flags.
    if (fd_ < 0 || !hasLineHardware_) return;
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if (::ioctl(fd_, dtr_ ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && IsLossErrno(errno)) {
        portLost(ErrorText(errno));
        return;
    }
    if (::ioctl(fd_, rts_ ? TIOCMBIS : TIOCMBIC, &rts) != 0 && IsLossErrno(errno)) {
        portLost(ErrorText(errno));
        return;
    }
}

void SerialPort::setModemLineReader(ModemLineReader reader) {
    modemReaderInjected_ = static_cast<bool>(reader);
    if (reader)
        modemLineReader_ = std::move(reader);
    else
        modemLineReader_ = [](int fd) { return RealModemLines(fd); };
    if (fd_ >= 0) {
        lastModemLines_ = modemLineReader_(fd_);
        watch_->stopPoll();
        armModemPoll();
    }
}

void SerialPort::armModemPoll() {
    Watch& w = *watch_;
    if (fd_ < 0) {
        w.stopPoll();
        return;
    }
    const bool lines = lastModemLines_ >= 0;
    // The wait, where the device has modem lines and its driver takes it; never for a
    // test's reader, whose lines no real wait would see change.
    const bool waiting = lines && !modemReaderInjected_ && w.waitRefusedOpen != opens_;
    if (waiting && !w.modemWait.running()) startModemWait();
    if (!waiting && w.modemWait.running()) w.modemWait.stop();
    // The timer looks for a change of Clear To Send where nothing waits for it, slowly behind
    // a wait, and for the device's loss while nothing else would see it: an armed read wait
    // ends on a hang-up by itself, so then an idle pty costs no wake-ups at all.
    int every = 0;
    if (waiting)
        every = kModemLookBehindWaitMs;
    else if (lines)
        every = kModemPollMs;
    else if (w.read != Watch::Read::Waiting)
        every = kPresencePollMs;
    // Characters below the threshold are looked at again soon, as a wait would end at once.
    if (w.read == Watch::Read::Below)
        every = every == 0 ? kPresencePollMs : std::min(every, kPresencePollMs);
    if (every == 0)
        w.stopTimer();
    else if (!w.polling || w.pollEvery != std::chrono::milliseconds(every)) {
        w.stopTimer();
        w.startPoll(*this, std::chrono::milliseconds(every));
    }
}

void SerialPort::startModemWait() {
    Watch& w = *watch_;
    w.modemWait.start(
        fd_, [this, alive = alive_, open = opens_](ModemWait::Outcome outcome, int error) {
            if (!*alive || open != opens_ || fd_ < 0) return;
            switch (outcome) {
                case ModemWait::Outcome::Changed:
                    pollModemLines();  // reads the lines and raises a change as the timer does
                    break;
                case ModemWait::Outcome::Refused:
                    watch_->waitRefusedOpen = opens_;
                    armModemPoll();  // the timer takes over, at its quicker pace
                    break;
                case ModemWait::Outcome::Lost:
                    portLost(HungUp(fd_) ? "the device hung up" : ErrorText(error));
                    break;
            }
        });
}

void SerialPort::pollModemLines() {
    if (fd_ < 0) return;
    if (HungUp(fd_)) {
        portLost("the device hung up");
        return;
    }
    if (watch_->read == Watch::Read::Below && InBufferCount() >= rThreshold_ && fd_ >= 0) {
        // Enough has come: the wait, armed again, ends at once and raises the event.
        watch_->read = Watch::Read::Waiting;
        armRead();
        armModemPoll();
    }
    if (fd_ < 0 || lastModemLines_ < 0) return;
    const int lines = modemLineReader_(fd_);
    if (lines < 0) {
        if (RealModemLines(fd_) < 0 && IsLossErrno(errno)) portLost(ErrorText(errno));
        return;
    }
    const bool ctsChanged = ((lines ^ lastModemLines_) & TIOCM_CTS) != 0;
    lastModemLines_ = lines;
    if (ctsChanged) raiseEvent(comEvCTS);
}

void SerialPort::Watch::startPoll(SerialPort& port, std::chrono::milliseconds every) {
    polling = true;
    pollEvery = every;
    schedulePoll(port);
}

void SerialPort::Watch::stopPoll() {
    stopTimer();
    modemWait.stop();
}

void SerialPort::Watch::stopTimer() {
    polling = false;
    ++pollRound;
    poll.cancel();
}

void SerialPort::Watch::schedulePoll(SerialPort& port) {
    poll.expires_after(pollEvery);
    poll.async_wait([&port, alive = port.alive_, round = pollRound](const std::error_code& ec) {
        if (!*alive || ec == asio::error::operation_aborted) return;
        Watch& w = *port.watch_;
        if (!w.polling || round != w.pollRound) return;
        port.pollModemLines();
        // Still the same poll after it: it did not lose the port or stop looking.
        if (w.polling && round == w.pollRound) w.schedulePoll(port);
    });
}

}  // namespace corvane
