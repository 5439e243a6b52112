#include "rig/guest_check/guest_rig.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "rig/wait.h"

namespace corvane::rig::guest {

namespace {

int failures = 0;

int OpenTty(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(path + ": " + std::strerror(errno));
    return fd;
}

}  // namespace

double NowMs() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

bool Check(bool ok, const std::string& name, const std::string& why) {
    if (ok) {
        Say("PASS " + name);
    } else {
        Say("FAIL " + name + (why.empty() ? "" : ": " + why));
        ++failures;
    }
    return ok;
}

int Failures() { return failures; }

void SayLog(const std::string& prefix, const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) Say(prefix + line);
}

TtyEnd::TtyEnd(asio::io_context& io, const std::string& path) : io_(io), fd_(io) {
    const int fd = OpenTty(path, O_RDWR);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetspeed(&t, B2400);
    ::tcsetattr(fd, TCSANOW, &t);
    ::tcflush(fd, TCIOFLUSH);
    fd_.assign(fd);
    arm();
}

TtyEnd::~TtyEnd() {
    *alive_ = false;
    std::error_code ignored;
    fd_.close(ignored);
}

void TtyEnd::arm() {
    fd_.async_wait(asio::posix::stream_descriptor::wait_read,
                   [this, alive = alive_](const std::error_code& ec) {
                       if (!*alive || ec) return;
                       const ssize_t n =
                           ::read(fd_.native_handle(), buffer_.data(), buffer_.size());
                       const double now = NowMs();
                       if (n > 0) {
                           received_.append(buffer_.data(), static_cast<std::size_t>(n));
                           arrivals_.insert(arrivals_.end(), static_cast<std::size_t>(n), now);
                       }
                       // A hung-up line reads 0 at once: look again a little later.
                       if (n <= 0) ::usleep(1000);
                       arm();
                   });
}

bool TtyEnd::send(const std::string& bytes) {
    std::size_t sent = 0;
    return RunUntil(
        io_,
        [&] {
            while (sent < bytes.size()) {
                const ssize_t n =
                    ::write(fd_.native_handle(), bytes.data() + sent, bytes.size() - sent);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            return sent == bytes.size();
        },
        5000);
}

void TtyEnd::clear() {
    received_.clear();
    arrivals_.clear();
}

bool TtyEnd::waitForBytes(std::size_t n, int timeoutMs) {
    return RunUntil(
        io_, [&] { return received_.size() >= n; }, timeoutMs);
}

void TtyEnd::waitForQuiet(int quietMs, int timeoutMs) {
    const double start = NowMs();
    RunUntil(
        io_,
        [&] {
            const double last = arrivals_.empty() ? start : std::max(start, arrivals_.back());
            return NowMs() - last >= quietMs;
        },
        timeoutMs);
}

DeviceLook::DeviceLook(asio::io_context& io, const std::string& path, int everyMs)
    : timer_(io), fd_(OpenTty(path, O_RDONLY)), everyMs_(everyMs) {
    last_ = settings();
    look();
}

DeviceLook::~DeviceLook() {
    *alive_ = false;
    timer_.cancel();
    ::close(fd_);
}

std::string DeviceLook::settings() const {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return "gone";
    const speed_t s = cfgetospeed(&t);
    const int baud = s == B2400 ? 2400 : s == B9600 ? 9600 : s == B1200 ? 1200 : -1;
    const char parity = (t.c_cflag & PARENB) == 0 ? 'n' : (t.c_cflag & PARODD) ? 'o' : 'e';
    const int bits = (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS8 ? 8 : 5;
    return std::to_string(baud) + "," + parity + "," + std::to_string(bits) + "," +
           ((t.c_cflag & CSTOPB) ? "2" : "1");
}

std::optional<DeviceLook::Change> DeviceLook::became(const std::string& text) const {
    for (auto it = changes_.rbegin(); it != changes_.rend(); ++it)
        if (it->settings == text) return *it;
    return std::nullopt;
}

void DeviceLook::look() {
    int queued = -1;
    if (::ioctl(fd_, TIOCOUTQ, &queued) == 0) maxOutQueue_ = std::max(maxOutQueue_, queued);
    const std::string now = settings();
    if (now != last_) {
        int lsr = 0;
        const bool empty = ::ioctl(fd_, TIOCSERGETLSR, &lsr) == 0 && (lsr & TIOCSER_TEMT) != 0;
        changes_.push_back(Change{NowMs(), now, queued, empty});
        last_ = now;
    }
    timer_.expires_after(std::chrono::milliseconds(everyMs_));
    timer_.async_wait([this, alive = alive_](const std::error_code& ec) {
        if (*alive && !ec) look();
    });
}

Bridge::Bridge(asio::io_context& io, const std::string& binary, const std::string& device,
               const std::string& programDir, const std::vector<std::string>& extra)
    : io_(io), host_(io, 0) {
    std::vector<std::string> args{"--port",        device,
                                  "--host",        "127.0.0.1:" + std::to_string(host_.port()),
                                  "--program-dir", programDir};
    args.insert(args.end(), extra.begin(), extra.end());
    process_ = std::make_unique<ChildProcess>(io, binary, args);
}

bool Bridge::waitUp(int timeoutMs) {
    return RunUntil(
        io_,
        [this] { return host_.connected() && host_.received().find("\r\r") != std::string::npos; },
        timeoutMs);
}

int Bridge::stop() {
    process_->signal(SIGTERM);
    process_->waitForExit(5000);
    const auto code = process_->exitCode();
    return code ? *code : -1;
}

std::int64_t ContextSwitches(pid_t pid) {
    std::int64_t total = 0;
    std::error_code ec;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(dir, ec)) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stoll(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

std::string Pattern(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + i % 64));
    return s;
}

std::string MakeDir(const std::string& base, const std::string& name) {
    const std::string dir = base + "/" + name;
    std::filesystem::create_directories(dir);
    return dir;
}

bool WaitUp(Bridge& b, const std::string& what) {
    if (b.waitUp(30000)) return true;
    Check(false, what + ": the bridge comes up", "no host connection within 30 s");
    SayLog("  bridge| ", b.log());
    return false;
}

bool HoldsDescriptor(pid_t pid, const std::string& path) {
    std::error_code ec;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& fd : std::filesystem::directory_iterator(dir, ec)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(fd.path(), linkError).string();
        if (!linkError && target.rfind(path, 0) == 0) return true;
    }
    return false;
}

}  // namespace corvane::rig::guest
