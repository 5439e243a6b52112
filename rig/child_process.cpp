#include "rig/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <asio/posix/stream_descriptor.hpp>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "rig/wait.h"

extern char** environ;

namespace corvane::rig {

namespace {

struct Reader {
    explicit Reader(asio::io_context& io, int fd) : pipe(io, fd) {}
    asio::posix::stream_descriptor pipe;
    std::string text;
    bool done = false;  // end of file, or the pipe failed
    std::array<char, 4096> buffer{};
};

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (const std::string& s : strings) out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

std::runtime_error Failure(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

// Only async-signal-safe calls between fork and exec. The child starts as a program started
// from a shell would: no signal blocked or ignored, and none of this process's descriptors
// (a pty master, a host's sockets) held open, so a test's hang-up or close is seen.
[[noreturn]] void BecomeChild(const char* program, char* const* argv, char* const* envp, int out,
                              int err, int report) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &byDefault, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
        const int e = errno;
        [[maybe_unused]] auto n = ::write(report, &e, sizeof e);
        ::_exit(127);
    }
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {  // a kernel older than 5.11
        for (int fd = 3; fd < 1024; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::execve(program, argv, envp);
    const int e = errno;
    [[maybe_unused]] auto n = ::write(report, &e, sizeof e);
    ::_exit(127);
}

void Arm(const std::shared_ptr<void>& keep, Reader& r) {
    r.pipe.async_read_some(asio::buffer(r.buffer), [keep, &r](std::error_code ec, std::size_t n) {
        r.text.append(r.buffer.data(), n);
        if (ec) {
            r.done = true;
            return;
        }
        Arm(keep, r);
    });
}

}  // namespace

struct ChildProcess::Pipes {
    Pipes(asio::io_context& io, int out, int err) : out(io, out), err(io, err) {}
    Reader out;
    Reader err;
};

std::vector<std::string> ChildProcess::Environment(const std::vector<std::string>& without) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool keep = true;
        for (const std::string& w : without) keep = keep && w != name;
        if (keep) env.push_back(entry);
    }
    return env;
}

ChildProcess::ChildProcess(asio::io_context& io, const std::string& program,
                           const std::vector<std::string>& arguments,
                           const std::vector<std::string>& env)
    : io_(io) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::vector<char*> argp = Pointers(argv);
    const std::vector<char*> envp = Pointers(env);
    int out[2], err[2], report[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw Failure("pipe", errno);
    if (::pipe2(err, O_CLOEXEC) != 0) {
        const int e = errno;
        ::close(out[0]), ::close(out[1]);
        throw Failure("pipe", e);
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int e = errno;
        ::close(out[0]), ::close(out[1]), ::close(err[0]), ::close(err[1]);
        throw Failure("pipe", e);
    }
    pid_ = ::fork();
    if (pid_ == 0)
        BecomeChild(program.c_str(), argp.data(), envp.data(), out[1], err[1], report[1]);
    const int forkError = errno;
    ::close(out[1]), ::close(err[1]), ::close(report[1]);
    int execError = 0;
    if (pid_ > 0) {
        // Closed by the exec itself, or it brings the reason the exec failed.
        ssize_t n;
        do n = ::read(report[0], &execError, sizeof execError);
        while (n < 0 && errno == EINTR);
        if (n != sizeof execError) execError = 0;
    }
    ::close(report[0]);
    if (pid_ < 0 || execError != 0) {
        ::close(out[0]), ::close(err[0]);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        reaped_ = true;
        throw Failure("cannot start " + program, pid_ < 0 ? forkError : execError);
    }
    pipes_ = std::make_shared<Pipes>(io, out[0], err[0]);
    Arm(pipes_, pipes_->out);
    Arm(pipes_, pipes_->err);
}

ChildProcess::~ChildProcess() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        reap(0);
    }
    // Pending reads end with an error the next time io runs, or go with it.
    std::error_code ignored;
    pipes_->out.pipe.close(ignored);
    pipes_->err.pipe.close(ignored);
}

void ChildProcess::reap(int options) {
    if (reaped_) return;
    int status = 0;
    pid_t r;
    do r = ::waitpid(pid_, &status, options);
    while (r < 0 && errno == EINTR);
    if (r != pid_) return;
    reaped_ = true;
    if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) termSignal_ = WTERMSIG(status);
}

bool ChildProcess::running() {
    reap(WNOHANG);
    return !reaped_;
}

void ChildProcess::signal(int sig) {
    if (running()) ::kill(pid_, sig);
}

bool ChildProcess::waitForExit(int timeoutMs) {
    RunUntil(
        io_, [this] { return !running() && pipes_->out.done && pipes_->err.done; }, timeoutMs);
    return !running();
}

const std::string& ChildProcess::out() const { return pipes_->out.text; }
const std::string& ChildProcess::err() const { return pipes_->err.text; }

}  // namespace corvane::rig
