// The Linux side of the serial port's test under Wine: a pty whose slave Wine opens as COM1
// (through a link of ours that the prefix's Ports key names), its master relayed to one TCP
// client on 127.0.0.1 at a time. The test is that client: what it sends reaches the port, what
// the port writes comes back to it, and when it closes its connection the master is closed
// too, which hangs the slave up under Wine; a fresh pty then takes the link over for the next
// client. Each client is first sent one line, "pty PATH", once its pty is the link's: the
// rest is the line's bytes.
//
//   serial_pty_relay LINK [SECONDS]
//
// Prints "pty PATH" for each pty it makes and "port N" once listening (N the TCP port); ends
// after SECONDS (default 120) or at a signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    int slave = -1;  // ours, held so the master never sees a hang-up while Wine has none open
    std::string path;
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "serial_pty_relay: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

Pty MakePty(const std::string& link) {
    Pty p;
    char name[256] = {};
    if (::openpty(&p.master, &p.slave, name, nullptr, nullptr) != 0) Fail("openpty");
    p.path = name;
    termios t{};
    if (::tcgetattr(p.slave, &t) == 0) {
        cfmakeraw(&t);
        ::tcsetattr(p.slave, TCSANOW, &t);
    }
    ::fcntl(p.master, F_SETFL, ::fcntl(p.master, F_GETFL) | O_NONBLOCK);
    // Replaced in one step: Wine never finds the link missing or pointing at an old pty.
    const std::string temp = link + ".new";
    ::unlink(temp.c_str());
    if (::symlink(p.path.c_str(), temp.c_str()) != 0) Fail("symlink");
    if (::rename(temp.c_str(), link.c_str()) != 0) Fail("rename");
    std::printf("pty %s\n", p.path.c_str());
    std::fflush(stdout);
    return p;
}

void ClosePty(Pty& p) {
    ::close(p.master);
    ::close(p.slave);
    p = Pty{};
}

// Writes everything, waiting (bounded) while the other side is full.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd w{fd, POLLOUT, 0};
            if (::poll(&w, 1, 5000) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: serial_pty_relay LINK [SECONDS]\n");
        return 2;
    }
    const std::string link = argv[1];
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) Fail("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Fail("bind");
    if (::listen(listener, 4) != 0) Fail("listen");
    if (::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) Fail("getsockname");

    Pty pty = MakePty(link);
    std::printf("port %d\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    int client = -1;
    char buffer[65536];
    while (Clock::now() < deadline) {
        // The master is read only while a client takes what it gives.
        pollfd fds[2] = {{client >= 0 ? client : listener, POLLIN, 0},
                         {client >= 0 ? pty.master : -1, POLLIN, 0}};
        const int r = ::poll(fds, 2, 200);
        if (r < 0 && errno != EINTR) Fail("poll");
        if (r <= 0) continue;
        if (client < 0) {
            if (fds[0].revents & POLLIN) {
                client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                const std::string hello = "pty " + pty.path + "\n";
                if (client >= 0) WriteAll(client, hello.data(), hello.size());
            }
            continue;
        }
        if (fds[0].revents) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n > 0) {
                WriteAll(pty.master, buffer, static_cast<std::size_t>(n));
            } else {
                // The client went: hang its pty up, and make a fresh one for the next.
                ::close(client);
                client = -1;
                ClosePty(pty);
                pty = MakePty(link);
                continue;
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            if (n > 0) WriteAll(client, buffer, static_cast<std::size_t>(n));
        }
    }
    if (client >= 0) ::close(client);
    ClosePty(pty);
    ::unlink(link.c_str());
    return 0;
}
