// The terminal's end of the loopback rig: the master side of a real pty pair, whose slave the
// program opens as its serial port through the link ports/comN under its folder.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace corvane::rig {

class PtyTerminal {
  public:
    // Makes the pty pair (master raw and non-blocking, slave raw), creates programDir/ports
    // and the link ports/comN -> slave device (an existing link is replaced). Throws
    // std::runtime_error when any of this fails. Its reads run on `io`.
    PtyTerminal(asio::io_context& io, const std::string& programDir, int portNumber);
    // Closes the master and removes the link.
    ~PtyTerminal();
    PtyTerminal(const PtyTerminal&) = delete;
    PtyTerminal& operator=(const PtyTerminal&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return linkPath_; }

    // Writes all the bytes to the line, in order. When the program does not take them, waits
    // (running the io_context) up to 10 s in all, then throws std::runtime_error.
    void send(const std::string& bytes);
    // Everything received from the program since the last take (what waits on the master is
    // read first); the arrival record is kept.
    std::string takeReceived();
    // Runs the io_context for ms milliseconds, then returns takeReceived().
    std::string readFor(int ms);
    // Runs the io_context until at least n bytes have arrived since the last take, at most
    // timeoutMs; true when they did. Nothing is taken.
    bool waitForBytes(int n, int timeoutMs);
    // Bytes received and not yet taken.
    int receivedCount() const { return static_cast<int>(received_.size()); }

    // Reads at the pace of a real line: `baud` bits a second, `bitsPerChar` bits a character
    // (10 for 7E1 or 8N1, 11 for 8O1), so what the program writes piles up in the pty as in a
    // UART's output queue. Baud 0 reads as fast as the program writes (the start state).
    void setLineRate(int baud, double bitsPerChar = 10);
    // From now on the bits of each character are asked of `bits` as it goes out: a pty keeps
    // no framing (it reads back 8N1 whatever was set), so a terminal beside a program that
    // changes it (7E1 to relay, 8O1 to load) asks the program. Empty: the fixed figure again.
    void followFraming(std::function<double()> bits);
    int lineRate() const { return baud_; }
    // Characters the program wrote that the terminal has not read yet: what the pty holds for
    // it, the line's output queue (up to the 4095 the pty's reading side counts, and only
    // once the kernel has moved them there).
    int unread() const;
    // Every character read off the line since construction.
    std::int64_t readTotal() const { return readTotal_; }

    // Every byte received since construction (or the last clearArrivals), in order, with its
    // arrival time in milliseconds since construction.
    const std::vector<std::pair<std::int64_t, char>>& arrivals() const { return arrivals_; }
    void clearArrivals() { arrivals_.clear(); }
    // Milliseconds since construction, on the clock of arrivals().
    std::int64_t elapsedMs() const;

    // Closes the master: the program's side of the line is hung up. What waits on the master
    // is read first. send() then throws; takeReceived() still returns what came before.
    void hangUp();
    bool isHungUp() const { return masterFd_ < 0; }

    // Expires with the terminal: a callback left with the engine checks it first.
    std::weak_ptr<bool> Alive() const;

  private:
    struct Watch;  // the master's read wait and the line's timer (asio)

    void drain();
    void lineStep();
    std::int64_t charTimeNs() const;
    std::int64_t nowNs() const;
    void take(const char* bytes, std::size_t n);
    void armRead();
    void closeAll();

    asio::io_context& io_;
    int masterFd_ = -1;
    // The rig keeps a descriptor of the slave open so that the program closing and reopening
    // its port never leaves the master without a slave (which would make it report a hang-up
    // of its own and lose what the terminal sent in between).
    int slaveFd_ = -1;
    std::string slavePath_;
    std::string linkPath_;
    std::uint64_t linkInode_ = 0;
    std::string received_;
    std::vector<std::pair<std::int64_t, char>> arrivals_;
    std::chrono::steady_clock::time_point start_;
    std::int64_t readTotal_ = 0;
    int baud_ = 0;
    double bitsPerChar_ = 10;
    std::function<double()> framing_;
    std::int64_t lineFreeAt_ = 0;  // ns since start_: when the line finished its last character
    bool lineRunning_ = false;
    std::unique_ptr<Watch> watch_;
};

}  // namespace corvane::rig
