// A program started by a test or a benchmark as a child: its arguments and environment, its
// standard output and error read as they come, signals, and a bounded wait for its end.
#pragma once

#include <sys/types.h>

#include <asio/io_context.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::rig {

class ChildProcess {
  public:
    // This process's environment ("NAME=value" entries) without the variables named.
    static std::vector<std::string> Environment(const std::vector<std::string>& without = {});

    // Starts `program` (a path) with `arguments` (argv[1] on) and the environment `env`;
    // standard input is /dev/null, standard output and error are read on `io` whenever it
    // runs. Throws std::runtime_error when the program cannot be started.
    ChildProcess(asio::io_context& io, const std::string& program,
                 const std::vector<std::string>& arguments,
                 const std::vector<std::string>& env = Environment());
    // A child still running is killed (SIGKILL) and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // False once the child has ended (and was reaped).
    bool running();
    void signal(int sig);

    // Runs `io` until the child has ended and its output is read, at most timeoutMs; true when
    // it ended.
    bool waitForExit(int timeoutMs);
    // The exit status of a child that returned or called exit; none while it runs or when a
    // signal ended it.
    std::optional<int> exitCode() const { return exitCode_; }
    // The signal that ended the child, 0 when none did.
    int termSignal() const { return termSignal_; }

    // Everything it wrote so far (what `io` has read; a wait for the exit reads the rest).
    const std::string& out() const;
    const std::string& err() const;

  private:
    struct Pipes;  // the two pipes' readers on io, shared with their pending reads
    void reap(int options);

    asio::io_context& io_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::optional<int> exitCode_;
    int termSignal_ = 0;
    std::shared_ptr<Pipes> pipes_;
};

}  // namespace corvane::rig
