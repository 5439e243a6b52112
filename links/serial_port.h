// The serial port component `Comm`: a numbered port with line settings, DTR and RTS, polled
// input, queued output and an OnComm event for a change of the Clear To Send line. Built on
// termios (Linux) or the Win32 communications calls (Windows) and the engine's io_context; it
// never blocks the engine's thread.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "links/line_settings.h"

namespace corvane {

// Raised by an operation the port cannot carry out; what() is a text for the operator.
class CommError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Event codes read from CommEvent while OnComm is being delivered.
constexpr int comEvReceive = 2;         // characters are waiting to be read (RThreshold above 0)
constexpr int comEvCTS = 3;             // the Clear To Send line changed
constexpr int comEventPortLost = 1100;  // the device vanished (adapter pulled, pty hung up)
// Output queued before a change of line settings had not left the line within its line time
// plus a second; the settings were changed anyway.
constexpr int comEventDrainTimeout = 1101;

// The open device as the readers below get it: a descriptor, or a HANDLE on Windows.
#ifdef _WIN32
using PortHandle = void*;
#else
using PortHandle = int;
#endif

// The Clear To Send bit of what a ModemLineReader returns (TIOCM_CTS's value, on Windows too).
constexpr int kModemLineCTS = 0x020;

// The device of port n: on Linux the link ports/comN under the program's folder when it
// exists, else /dev/ttyS(n-1); on Windows \\.\COMn, whatever the folder. Empty for n < 1.
std::string DevicePathForPort(const std::string& programDir, int n);

class SerialPort {
  public:
    explicit SerialPort(asio::io_context& io);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The event: read CommEvent inside it. Delivered from the io_context, never from inside
    // the operation that found the event.
    std::function<void()> OnComm;

    // Where ports/comN links are looked up (Linux).
    void setProgramDir(const std::string& dir) { programDir_ = dir; }

    void setCommPort(int n);
    int CommPort() const { return port_; }

    // A device to open in place of CommPort's (an entry of the port list that names a device
    // path); empty for the numbered port. Takes effect at the next open.
    void setDevicePath(const std::string& path) { devicePath_ = path; }
    const std::string& DevicePath() const { return devicePath_; }
    // "comN" or the device path: how messages name the port.
    std::string PortName() const;

    // Raises CommError for a text of the wrong form; while open, applies it at once and
    // raises when a device with line hardware refuses it. Output still queued goes out at the
    // new framing: a caller that has queued output uses SettingsAfterDrain.
    void setSettings(const std::string& text);
    // The same, once the queued output has left the line (for at most its line time plus a
    // second; then comEventDrainTimeout and the settings are changed anyway). Raises as
    // setSettings does.
    asio::awaitable<void> SettingsAfterDrain(std::string text);
    const std::string& Settings() const { return settingsText_; }

    // 0 = no handshaking (the only mode the bridge uses); 1 XON/XOFF, 2 RTS/CTS, 3 both.
    void setHandshaking(int mode);
    int Handshaking() const { return handshaking_; }
    void setDTREnable(bool on);
    bool DTREnable() const { return dtr_; }
    void setRTSEnable(bool on);
    bool RTSEnable() const { return rts_; }

    // True opens the device of CommPort with Settings (CommError when it cannot: missing,
    // busy, not a terminal device, settings refused); False closes it. Opening an open port
    // raises, as the component always did.
    void setPortOpen(bool open);
#ifdef _WIN32
    bool PortOpen() const { return handle_ != nullptr; }
#else
    bool PortOpen() const { return fd_ >= 0; }
#endif

    // Characters received and waiting; 0 when closed.
    int InBufferCount();
    // All waiting characters, removed from the port; empty when nothing waits. Raises when
    // the port is closed.
    std::string Input();
    // Queues the characters for the line, in order; raises when the port is closed.
    void Output(const std::string& text);
    // Characters handed to Output and not yet sent on the line: the component's own queue
    // plus what the device holds unsent (its output queue, where it reports one).
    int OutBufferCount() const;
    // Characters the device has taken from the component since it was made, over every open.
    std::int64_t CharactersWritten() const { return written_; }
    // 0 discards every character not yet sent, in the component and in the device; no
    // other value is allowed.
    void setOutBufferCount(int count);

    // 0: no receive events. Above 0: OnComm with comEvReceive once that many characters
    // wait, raised again only after Input has taken them (so a slow reader is woken once).
    void setRThreshold(int count);
    int RThreshold() const { return rThreshold_; }

    // The baud rate of Settings, the bits that go out for one character (start, data,
    // parity, stop), and the line time of a number of characters at Settings.
    int Baud() const { return settings_.baud; }
    double BitsPerCharacter() const;
    double LineMs(std::int64_t characters) const;

    int CommEvent() const { return commEvent_; }
    // Why the device was last lost ("the device hung up", the system's error text); empty
    // until a loss. The component reports the loss as comEventPortLost and logs nothing itself.
    const std::string& LostReason() const { return lostReason_; }

    // Reads the modem lines (TIOCM_* bits, kModemLineCTS among them) of an open device, -1
    // when the device has none. Replaceable in tests: no pty has a Clear To Send line.
    using ModemLineReader = std::function<int(PortHandle)>;
    void setModemLineReader(ModemLineReader reader);

    // Reads the characters an open device holds unsent (TIOCOUTQ; ClearCommError's cbOutQue on
    // Windows), -1 when it cannot tell. Replaceable in tests: a pty reports none, though the
    // terminal on its other end may be reading at the pace of a real line.
    using OutputQueueReader = std::function<int(PortHandle)>;
    void setOutputQueueReader(OutputQueueReader reader);
    // Told right after the device was told to drop what it holds unsent (the output buffer
    // emptied, the port closed), so that a test's stand-in for that queue can see what is
    // left of it.
    void setOutputDropWatcher(std::function<void()> watcher) {
        outputDropWatcher_ = std::move(watcher);
    }

    // True when the device has real line hardware (modem lines); a pty has none.
    bool HasLineHardware() const { return hasLineHardware_; }

  private:
    struct Watch;  // the device's waits: input, output, the modem lines and their timer

    // The open device, for the readers.
    PortHandle handle() const;
    // `when` is 0 (now), or 1 once the queued output has left the component (TCSADRAIN).
    void applySettings(const LineSettings& s, int handshaking, int when = 0);
    // Applies new settings and handshaking to the open device; when it refuses them, puts
    // the current ones back and raises.
    void applyOrRestore(const LineSettings& s, int handshaking, int when = 0);
    // Lets the queued output leave the line for at most its line time plus a second; false
    // when it did not (or the port closed meanwhile).
    asio::awaitable<bool> drainOutput();
    // True when the open device is found gone by a look that costs no wait.
    bool deviceGone();
    // Hands queued output to the device as far as it takes it now; a wait finishes the rest.
    void flushOutput();
    // Drops what the device holds unsent.
    void purgeDeviceOutput();
    void applyModemLines();
    void pollModemLines();
    void armModemPoll();
    void portLost(const std::string& why);
    void raiseEvent(int code);
    void closeDevice();
#ifdef _WIN32
    void startRead();
    void onRead(const std::error_code& ec, std::size_t n);
    void onWritten(const std::error_code& ec);
    void startModemWait();
    void raiseReceiveWhenDue();
#else
    void onReadable();
    void startModemWait();
    void armRead();
    void armWrite();
#endif

    asio::io_context& io_;
    std::string programDir_;
    std::string devicePath_;
    int port_ = 1;
    std::string settingsText_ = "9600,n,8,1";
    LineSettings settings_;
    int handshaking_ = 0;
    bool dtr_ = false;
    bool rts_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::string where_;  // "comN (device)" of the open port, for error texts
    bool hasLineHardware_ = false;
    int lastModemLines_ = -1;
    int commEvent_ = 0;
    std::string lostReason_;
    std::string inBuffer_;
    std::string outQueue_;
    std::size_t outSent_ = 0;  // the leading characters of outQueue_ the device already took
    int rThreshold_ = 0;
    std::int64_t written_ = 0;
    std::uint64_t opens_ = 0;  // counts opens, so a wait notices a close and reopen under it
    std::unique_ptr<Watch> watch_;
    ModemLineReader modemLineReader_;
    bool modemReaderInjected_ = false;  // a test's reader: its lines cannot wake a real wait
    OutputQueueReader outputQueueReader_;
    std::function<void()> outputDropWatcher_;
    std::shared_ptr<bool> alive_;  // handlers posted to the io_context check it
};

}  // namespace corvane
