#include "rig/guest_check/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

namespace corvane::rig::guest {

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t stopAsked = 0;
void AskStop(int) { stopAsked = 1; }

// One direction of a pair.
struct Wire {
    int from = -1;
    int to = -1;
    bool paced = false;
    Clock::duration charTime{};
    std::string held;         // paced: the one character on the line; else everything not yet taken
    Clock::time_point due{};  // paced: when the held character has arrived at the far end
    Clock::time_point lineFree{};
    bool ended = false;
    long long moved = 0;
    int mostWaiting = 0;  // paced: the most characters seen waiting behind the one on the line

    bool wantsRead() const { return !ended && (!paced || held.empty()); }
    bool canDeliver(Clock::time_point now) const { return !held.empty() && (!paced || now >= due); }

    // `continuing`: taken as the previous character arrived, so it follows it on the line
    // without a gap even when this process woke late; else it starts now.
    void take(Clock::time_point now, bool continuing = false) {
        char buffer[65536];
        const std::size_t room = paced ? 1 : sizeof buffer;
        const ssize_t n = ::recv(from, buffer, room, MSG_DONTWAIT);
        if (n > 0) {
            held.append(buffer, static_cast<std::size_t>(n));
            if (paced) {
                due = (continuing ? lineFree : std::max(now, lineFree)) + charTime;
                lineFree = due;
                int waiting = 0;
                if (::ioctl(from, FIONREAD, &waiting) == 0)
                    mostWaiting = std::max(mostWaiting, waiting);
            }
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            ended = true;
        }
    }

    void deliver(Clock::time_point now) {
        const ssize_t n = ::send(to, held.data(), held.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            held.erase(0, static_cast<std::size_t>(n));
            moved += n;
            if (paced && !ended) take(now, true);
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            ended = true;
        }
    }
};

int HighDescriptor(int fd) {
    // Out of the way of 3 to 6, which the child is given.
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 20);
    ::close(fd);
    if (high < 0) throw std::runtime_error(std::string("fcntl: ") + std::strerror(errno));
    return high;
}

std::array<int, 2> SocketPair(bool smallSendBuffer) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error(std::string("socketpair: ") + std::strerror(errno));
    std::array<int, 2> out{HighDescriptor(fds[0]), HighDescriptor(fds[1])};
    if (smallSendBuffer) {
        // The emulator's writes block after a few characters, as a UART's would on a slow
        // line, instead of piling up in the socket where the guest cannot see them.
        int size = 1;
        ::setsockopt(out[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    return out;
}

pid_t StartChild(const std::vector<std::string>& program, const std::array<int, 4>& given) {
    std::vector<char*> argv;
    for (const std::string& a : program) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        for (int i = 0; i < 4; ++i)
            if (::dup2(given[i], 3 + i) < 0) ::_exit(127);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "relay: cannot start %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    return pid;
}

int StatusOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

}  // namespace

int RunRelay(const RelayOptions& options) {
    if (options.program.empty()) throw std::runtime_error("relay: no program to run");
    struct sigaction stop {};
    stop.sa_handler = AskStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // [0] is the relay's end, [1] the emulator's.
    const auto uart0 = SocketPair(true);
    const auto uart1 = SocketPair(true);
    const auto usb0 = SocketPair(false);
    const auto usb1 = SocketPair(false);
    const pid_t child = StartChild(options.program, {uart0[1], uart1[1], usb0[1], usb1[1]});
    for (const auto& p : {uart0, uart1, usb0, usb1}) ::close(p[1]);

    const auto charTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / options.charactersPerSecond));
    std::array<Wire, 4> wires;
    const std::array<std::array<int, 2>, 4> ends{
        {{uart0[0], uart1[0]}, {uart1[0], uart0[0]}, {usb0[0], usb1[0]}, {usb1[0], usb0[0]}}};
    for (std::size_t i = 0; i < wires.size(); ++i) {
        wires[i].from = ends[i][0];
        wires[i].to = ends[i][1];
    }
    wires[0].paced = true;  // the bridge's UART to the terminal's
    wires[0].charTime = charTime;

    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.limitSeconds);
    Clock::time_point killAt = Clock::time_point::max();
    int status = -1;
    bool limitHit = false;
    while (status < 0) {
        int raw = 0;
        if (::waitpid(child, &raw, WNOHANG) == child) {
            status = StatusOf(raw);
            break;
        }
        Clock::time_point now = Clock::now();
        if (now >= deadline && !limitHit) {
            std::fprintf(stderr, "relay: time limit of %d s reached, stopping the emulator\n",
                         options.limitSeconds);
            ::kill(child, SIGKILL);
            limitHit = true;
        }
        if (stopAsked && killAt == Clock::time_point::max()) {
            ::kill(child, SIGTERM);
            killAt = now + std::chrono::seconds(5);
        }
        if (now >= killAt) ::kill(child, SIGKILL);

        for (Wire& w : wires)
            while (w.canDeliver(now) && !w.ended) {
                const long long before = w.moved;
                w.deliver(now);  // a paced line catches up with characters that waited
                if (!w.paced || w.moved == before) break;
            }
        std::map<int, short> events;
        Clock::time_point wake = now + std::chrono::milliseconds(100);  // for the child's end
        for (Wire& w : wires) {
            if (w.wantsRead()) events[w.from] |= POLLIN;
            if (!w.held.empty()) {
                if (w.paced && now < w.due)
                    wake = std::min(wake, w.due);
                else
                    events[w.to] |= POLLOUT;
            }
        }
        std::vector<pollfd> fds;
        for (const auto& [fd, ev] : events) fds.push_back(pollfd{fd, ev, 0});
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(Clock::duration::zero(), wake - now));
        timespec ts{static_cast<time_t>(wait.count() / 1000000000),
                    static_cast<long>(wait.count() % 1000000000)};
        ::ppoll(fds.data(), fds.size(), &ts, nullptr);
        now = Clock::now();
        for (const pollfd& p : fds) {
            if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            for (Wire& w : wires)
                if (w.from == p.fd && w.wantsRead()) w.take(now);
        }
    }
    std::fprintf(stderr,
                 "relay: UART pair %lld characters to the terminal's side at %d a second (at "
                 "most %d more waiting in the emulator's socket), %lld back; USB pair %lld and "
                 "%lld\n",
                 wires[0].moved, options.charactersPerSecond, wires[0].mostWaiting, wires[1].moved,
                 wires[2].moved, wires[3].moved);
    for (const auto& p : {uart0, uart1, usb0, usb1}) ::close(p[0]);
    return limitHit ? 124 : status;
}

}  // namespace corvane::rig::guest
