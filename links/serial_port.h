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
constexpr int comEvCTS = 3;             // the Clear To Send line changed
constexpr int comEventPortLost = 1100;  // the device vanished (adapter pulled, pty hung up)

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
    // Characters handed to Output and not yet taken by the device.
    int OutBufferCount() const { return static_cast<int>(outQueue_.size()); }

    int CommEvent() const { return commEvent_; }

    // Reads the modem lines (TIOCM_* bits) of an open descriptor, -1 when the device has
    // none. Replaceable in tests: no pty has a Clear To Send line.
    using ModemLineReader = std::function<int(int fd)>;
    void setModemLineReader(ModemLineReader reader);

    // True when the device has real line hardware (modem lines); a pty has none.
    bool HasLineHardware() const { return hasLineHardware_; }

  signals:
    void OnComm();

  private:
    void applySettings(const LineSettings& s, int handshaking);
    // Applies new settings and handshaking to the open device; when it refuses them, puts
    // the current ones back and raises.
    void applyOrRestore(const LineSettings& s, int handshaking);
    void applyModemLines();
    void pollModemLines();
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
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer* modemPoll_ = nullptr;
    ModemLineReader modemLineReader_;
};

}  // namespace corvane
