// The serial port component `Comm`: a numbered port with line settings, DTR and RTS, polled
// input, queued output and an OnComm event for a change of the Clear To Send line. Built on
// termios; it never blocks the window thread.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <stdexcept>

#include "links/line_settings.h"

class QSocketNotifier;
class QTimer;

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

// The device of port n: the link ports/comN under the program's folder when it exists,
// else /dev/ttyS(n-1). Empty for n < 1.
QString DevicePathForPort(const QString& programDir, int n);

class SerialPort : public QObject {
    Q_OBJECT

  public:
    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    // Where ports/comN links are looked up.
    void setProgramDir(const QString& dir) { programDir_ = dir; }

    void setCommPort(int n);
    int CommPort() const { return port_; }

    // A device to open in place of CommPort's (an entry of the port list that names a device
    // path); empty for the numbered port. Takes effect at the next open.
    void setDevicePath(const QString& path) { devicePath_ = path; }
    QString DevicePath() const { return devicePath_; }

    // Raises CommError for a text of the wrong form; while open, applies it at once and
    // raises when a device with line hardware refuses it.
    void setSettings(const QString& text);
    QString Settings() const { return settingsText_; }

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
    bool PortOpen() const { return fd_ >= 0; }

    // Characters received and waiting; 0 when closed.
    int InBufferCount();
    // All waiting characters, removed from the port; empty when nothing waits. Raises when
    // the port is closed.
    QByteArray Input();
    // Queues the characters for the line, in order; raises when the port is closed.
    void Output(const QByteArray& text);
    // Characters handed to Output and not yet sent on the line: the component's own queue
    // plus what the device holds unsent (its output queue, where it reports one).
    int OutBufferCount() const;
    // Characters the device has taken from the component since it was made, over every open.
    qint64 CharactersWritten() const { return written_; }
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
    double LineMs(qint64 characters) const;

    int CommEvent() const { return commEvent_; }

    // Reads the modem lines (TIOCM_* bits) of an open descriptor, -1 when the device has
    // none. Replaceable in tests: no pty has a Clear To Send line.
    using ModemLineReader = std::function<int(int fd)>;
    void setModemLineReader(ModemLineReader reader);

    // Reads the characters an open device holds unsent (TIOCOUTQ), -1 when it cannot tell.
    // Replaceable in tests: a pty reports none, though the terminal on its other end may be
    // reading at the pace of a real line.
    using OutputQueueReader = std::function<int(int fd)>;
    void setOutputQueueReader(OutputQueueReader reader);

    // True when the device has real line hardware (modem lines); a pty has none.
    bool HasLineHardware() const { return hasLineHardware_; }

  signals:
    void OnComm();

  private:
    // `when` is TCSANOW, or TCSADRAIN once the queued output has left the component.
    void applySettings(const LineSettings& s, int handshaking, int when = 0);
    // Applies new settings and handshaking to the open device; when it refuses them, puts
    // the current ones back and raises.
    void applyOrRestore(const LineSettings& s, int handshaking, int when = 0);
    // Lets the queued output leave the line, processing events meanwhile, for at most its
    // line time plus a second; false when it did not (or the port closed meanwhile).
    bool drainOutput();
    void onReadable();
    void applyModemLines();
    void pollModemLines();
    void armModemPoll();
    void flushOutput();
    void portLost(const QString& why);
    void raiseEvent(int code);
    void closeFd();

    QString programDir_;
    QString devicePath_;
    int port_ = 1;
    QString settingsText_ = QStringLiteral("9600,n,8,1");
    LineSettings settings_;
    int handshaking_ = 0;
    bool dtr_ = false;
    bool rts_ = false;
    int fd_ = -1;
    QString where_;  // "comN (device)" of the open port, for error texts
    bool hasLineHardware_ = false;
    int lastModemLines_ = -1;
    int commEvent_ = 0;
    QByteArray inBuffer_;
    QByteArray outQueue_;
    int rThreshold_ = 0;
    qint64 written_ = 0;
    quint64 opens_ = 0;  // counts opens, so a wait notices a close and reopen under it
    QSocketNotifier* writeNotifier_ = nullptr;
    QSocketNotifier* readNotifier_ = nullptr;
    QTimer* modemPoll_ = nullptr;
    ModemLineReader modemLineReader_;
    OutputQueueReader outputQueueReader_;
};

}  // namespace corvane
