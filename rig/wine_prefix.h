// A Wine prefix of a check's own, for running the Windows program on this machine: its own
// wineserver (whose output goes to a file: it dumps its object table when a pty it holds
// closes), COM1 led to a link of the check's own, and Windows programs started in it with
// their standard streams in files (Wine's services inherit them, so pipes would never close).
#pragma once

#include <asio/io_context.hpp>
#include <memory>
#include <string>
#include <vector>

#include "rig/child_process.h"

namespace corvane::rig {

class WinePrefix {
  public:
    // The prefix is made in `dir` (which must not exist yet): a copy of `templateDir` when one
    // is given and exists, else a fresh one at the first start. Throws std::runtime_error when
    // wine or wineserver is not on the PATH.
    WinePrefix(asio::io_context& io, std::string dir, std::string templateDir = {});
    // Ends the wineserver and every Wine process of the prefix.
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    const std::string& dir() const { return dir_; }
    // This process's environment with the prefix's: WINEPREFIX, no debug output, no Mono or
    // Gecko prompts, and no display unless `display` (then this process's DISPLAY).
    std::vector<std::string> Environment(bool display = false) const;
    // The Windows name of a path of this machine (Wine's drive Z: is the root).
    static std::string WindowsPath(const std::string& path);

    // Points COM1 at `link` (which must lead to a pty), starts the server again so that
    // Wine's mount manager reads it, starts Wine's services and checks that COM1 leads to the
    // pty. Throws std::runtime_error with the reason when it does not: nothing may then open
    // COM1, which Wine would otherwise map to this machine's /dev/ttyS0.
    void MapCom1(const std::string& link, int timeoutMs = 120000);

    // A Windows program started in the prefix: standard input /dev/null, output and errors
    // into files of the prefix's folder.
    class Program {
      public:
        Program(asio::io_context& io, const WinePrefix& prefix,
                const std::vector<std::string>& args, const std::string& name,
                bool display = false);
        ChildProcess& process() { return *process_; }
        // What it has written so far.
        std::string out() const;
        std::string err() const;

      private:
        std::string outPath_;
        std::string errPath_;
        std::unique_ptr<ChildProcess> process_;
    };

    // Runs `wine args...` to its end, at most timeoutMs (then it is killed); throws when it
    // does not end in time. Returns its exit code (-1 after a signal).
    int Run(const std::vector<std::string>& args, int timeoutMs, std::string* out = nullptr,
            std::string* err = nullptr);

    const std::string& wine() const { return wine_; }
    std::string ServerLogPath() const { return dir_ + ".wineserver.log"; }

    // The prefix's own wineserver, started in the foreground as this process's child, and its
    // end (with every Wine process of the prefix). Wine's desktop takes the display of the first
    // program after a start.
    void StartServer();
    void StopServer(int timeoutMs);

  private:
    asio::io_context& io_;
    std::string dir_;
    std::string wine_;
    std::string wineserver_;
    std::unique_ptr<ChildProcess> server_;
    int runs_ = 0;
};

}  // namespace corvane::rig
