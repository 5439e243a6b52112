// The serial port component on plain termios. Everything runs on the window thread: the
// descriptor is non-blocking, output that the device does not take at once waits in
// outQueue_ and is finished by a write notifier, and a timer watches the modem lines and
// the device's presence.
//
// What a Linux pty does when its master closes (measured on this machine's kernel, and what
// the code below relies on): the slave is hung up. poll() on it reports
// POLLIN|POLLOUT|POLLERR|POLLHUP at once; read() returns 0 (end of file, not an error);
// write(), FIONREAD, tcgetattr and tcsetattr fail with EIO; characters that were waiting
// on the slave are discarded by the hang-up. A raw tty with VMIN=0 VTIME=0 also returns 0
// from read() when nothing waits, so a read of 0 says nothing: loss is found with
// poll() (POLLHUP/POLLERR/POLLNVAL) and with the EIO/ENXIO/ENODEV errors of write and
// ioctl. A pulled USB adapter hangs its tty up the same way.
#include "links/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

namespace corvane {

namespace {

// Raised inside the component when the device turned out to be gone; callers that are
// open turn it into portLost.
class DeviceLost : public CommError {
  public:
    using CommError::CommError;
};

[[noreturn]] void Raise(const QString& text) { throw CommError(text.toStdString()); }
[[noreturn]] void RaiseLost(const QString& text) { throw DeviceLost(text.toStdString()); }

QString ErrorText(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

// Errors that mean the device is no longer there (hung up, unplugged, closed under us).
bool IsLossErrno(int e) { return e == EIO || e == ENXIO || e == ENODEV || e == EBADF; }

// A zero-timeout poll: true when the device has hung up or is in error.
bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// The modem lines as the device itself reports them; -1 (errno set) when it has none.
int RealModemLines(int fd) {
    int bits = 0;
    return ::ioctl(fd, TIOCMGET, &bits) == 0 ? bits : -1;
}

// What the device holds unsent; a pty holds nothing by this count.
int RealOutputQueue(int fd) {
    int n = 0;
    return ::ioctl(fd, TIOCOUTQ, &n) == 0 ? n : -1;
}

speed_t SpeedFor(int baud) {
    switch (baud) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 1152000:
            return B1152000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        case 2500000:
            return B2500000;
        case 3000000:
            return B3000000;
        case 3500000:
            return B3500000;
        case 4000000:
            return B4000000;
        default:
            return B0;
    }
}

// Raw mode with the given line settings and handshaking on top of what the device holds.
void MakeTermios(termios& t, const LineSettings& s, int handshaking) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON |
                                        ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    switch (s.dataBits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    switch (s.parity) {
        case Parity::None:
            break;
        case Parity::Even:
            t.c_cflag |= PARENB;
            break;
        case Parity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case Parity::Mark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case Parity::Space:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    // termios has one flag for "more than one stop bit": a UART sends 1.5 stop bits with it
    // at 5 data bits and 2 otherwise.
    if (s.stopHalves > 2) t.c_cflag |= CSTOPB;
    if (handshaking & 1) {
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
    }
    if (handshaking & 2) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = SpeedFor(s.baud);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
}

static_assert(TCSANOW == 0, "applySettings takes TCSANOW as its default");

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
constexpr int kModemPollMs = 10;     // with modem lines: Clear To Send and presence
constexpr int kPresencePollMs = 50;  // without: presence only
constexpr qsizetype kReadChunk = 65536;
constexpr qsizetype kMaxReadPerCall = 64 * 1024 * 1024;

}  // namespace

QString DevicePathForPort(const QString& programDir, int n) {
    if (n < 1) return {};
    if (!programDir.isEmpty()) {
        // A link whose device is gone still names the port: opening it fails, rather than
        // opening /dev/ttyS(N-1), another device that the operator did not choose.
        const QString link = QDir(programDir).filePath(QStringLiteral("ports/com%1").arg(n));
        const QFileInfo info(link);
        if (info.isSymLink() || info.exists()) return link;
    }
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

SerialPort::SerialPort(QObject* parent) : QObject(parent) {
    settings_ = *ParseLineSettings(settingsText_);
    modemPoll_ = new QTimer(this);
    connect(modemPoll_, &QTimer::timeout, this, &SerialPort::pollModemLines);
    setModemLineReader(nullptr);
    setOutputQueueReader(nullptr);
}

SerialPort::~SerialPort() { closeFd(); }

void SerialPort::setCommPort(int n) {
    if (fd_ >= 0)
        Raise(QStringLiteral(
                  "com%1: port already open; the port number cannot change while it is open")
                  .arg(port_));
    port_ = n;
}

void SerialPort::setSettings(const QString& text) {
    QString why;
    const std::optional<LineSettings> s = ParseLineSettings(text, &why);
    if (!s) Raise(QStringLiteral("line settings \"%1\": %2").arg(text, why));
    if (fd_ >= 0 && !(*s == settings_)) {
        // Output still queued would leave the line at the new framing, corrupted: let it go
        // first. TCSADRAIN then waits for the last characters inside the UART.
        const bool drained = drainOutput();
        if (fd_ >= 0) applyOrRestore(*s, handshaking_, drained ? TCSADRAIN : TCSANOW);
        if (!drained && fd_ >= 0) raiseEvent(comEventDrainTimeout);
    } else if (fd_ >= 0) {
        applyOrRestore(*s, handshaking_);
    }
    settings_ = *s;
    settingsText_ = FormatLineSettings(*s);
}

void SerialPort::setHandshaking(int mode) {
    if (mode < 0 || mode > 3)
        Raise(QStringLiteral(
                  "handshaking %1 is not one of 0 (none), 1 (XON/XOFF), 2 (RTS/CTS), 3 (both)")
                  .arg(mode));
    if (fd_ >= 0) applyOrRestore(settings_, mode);
    handshaking_ = mode;
}

bool SerialPort::drainOutput() {
    const int queued = OutBufferCount();
    if (queued <= 0) return true;
    const quint64 open = opens_;
    const QDeadlineTimer deadline(static_cast<qint64>(LineMs(queued)) + 1000);
    // The component's queue empties through the write notifier; the device's empties without
    // telling anyone, so look again once the line has had time to send what it holds.
    QTimer look;
    look.setSingleShot(true);
    look.setTimerType(Qt::PreciseTimer);
    while (fd_ >= 0 && opens_ == open) {
        const int left = OutBufferCount();
        if (left <= 0) break;
        if (deadline.hasExpired()) return false;
        if (!look.isActive())
            look.start(static_cast<int>(qBound<qint64>(
                1, static_cast<qint64>(std::ceil(LineMs(left))), deadline.remainingTime() + 1)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return fd_ >= 0 && opens_ == open;
}

int SerialPort::OutBufferCount() const {
    if (fd_ < 0) return 0;
    const qint64 device = qMax(outputQueueReader_(fd_), 0);
    return static_cast<int>(qMin<qint64>(outQueue_.size() + device, INT_MAX));
}

void SerialPort::setOutBufferCount(int count) {
    if (count != 0)
        Raise(QStringLiteral("com%1: the output buffer can only be emptied (0), not set to %2")
                  .arg(port_)
                  .arg(count));
    outQueue_.clear();
    if (writeNotifier_) writeNotifier_->setEnabled(false);
    if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
}

void SerialPort::setRThreshold(int count) {
    rThreshold_ = qMax(count, 0);
    if (readNotifier_) readNotifier_->setEnabled(rThreshold_ > 0);
    armModemPoll();
}

double SerialPort::BitsPerCharacter() const {
    return 1.0 + settings_.dataBits + (settings_.parity == Parity::None ? 0 : 1) +
           settings_.stopHalves / 2.0;
}

double SerialPort::LineMs(qint64 characters) const {
    return 1000.0 * BitsPerCharacter() * static_cast<double>(characters) / settings_.baud;
}

void SerialPort::setOutputQueueReader(OutputQueueReader reader) {
    if (reader)
        outputQueueReader_ = std::move(reader);
    else
        outputQueueReader_ = [](int fd) { return RealOutputQueue(fd); };
}

void SerialPort::onReadable() {
    // Once per Input: a reader that is not ready yet is not woken over and over.
    readNotifier_->setEnabled(false);
    if (HungUp(fd_)) {
        portLost(QStringLiteral("the device hung up"));
        return;
    }
    if (InBufferCount() < rThreshold_) {
        readNotifier_->setEnabled(true);
        return;
    }
    commEvent_ = comEvReceive;
    armModemPoll();
    emit OnComm();
}

void SerialPort::applyOrRestore(const LineSettings& s, int handshaking, int when) {
    try {
        applySettings(s, handshaking, when);
    } catch (const DeviceLost& e) {
        portLost(QString::fromStdString(e.what()));
        throw;
    } catch (const CommError&) {
        try {
            applySettings(settings_, handshaking_);  // the device refused: the old ones back
        } catch (const CommError&) {
        }
        throw;
    }
}

void SerialPort::setDTREnable(bool on) {
    dtr_ = on;
    applyModemLines();
}

void SerialPort::setRTSEnable(bool on) {
    rts_ = on;
    applyModemLines();
}

void SerialPort::setModemLineReader(ModemLineReader reader) {
    if (reader)
        modemLineReader_ = std::move(reader);
    else
        modemLineReader_ = [](int fd) { return RealModemLines(fd); };
    if (fd_ >= 0) {
        lastModemLines_ = modemLineReader_(fd_);
        modemPoll_->stop();
        armModemPoll();
    }
}

void SerialPort::setPortOpen(bool open) {
    if (!open) {
        closeFd();  // closing a closed port does nothing
        return;
    }
    if (fd_ >= 0) Raise(QStringLiteral("com%1: port already open").arg(port_));

    const QString path =
        devicePath_.isEmpty() ? DevicePathForPort(programDir_, port_) : devicePath_;
    if (path.isEmpty())
        Raise(QStringLiteral("com%1: there is no such port (port numbers start at 1)").arg(port_));
    const QString where =
        devicePath_.isEmpty() ? QStringLiteral("com%1 (%2)").arg(port_).arg(path) : path;
    where_ = where;

    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == EBUSY)
            Raise(QStringLiteral("%1: in use by another program (%2)").arg(where, ErrorText(e)));
        Raise(QStringLiteral("%1: %2").arg(where, ErrorText(e)));
    }
    if (!::isatty(fd)) {
        ::close(fd);
        Raise(QStringLiteral("%1: not a serial port (not a terminal device)").arg(where));
    }
    // The lock keeps a second SerialPort (or any program that locks as we do) out; TIOCEXCL
    // keeps out other openers where the kernel honours it (not for root).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
        ::close(fd);
        Raise(QStringLiteral("%1: in use by another program").arg(where));
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;

    // Line hardware is decided by the device itself, never by an injected reader: a pty
    // refuses TIOCMGET (and forces 8 bits, no parity), so on a pty the settings are applied
    // as far as it holds them and the rest is accepted. The reader only drives the Clear To
    // Send poll below, so a test's fake reader makes a pty "have a CTS line" without making
    // its forced 8N1 a settings error.
    hasLineHardware_ = RealModemLines(fd_) >= 0;
    try {
        applySettings(settings_, handshaking_);
    } catch (const CommError&) {
        closeFd();
        throw;
    }
    applyModemLines();
    if (fd_ < 0) Raise(QStringLiteral("%1: the device went away while opening").arg(where));

    ++opens_;
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &SerialPort::flushOutput);
    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    readNotifier_->setEnabled(rThreshold_ > 0);
    connect(readNotifier_, &QSocketNotifier::activated, this, &SerialPort::onReadable);

    lastModemLines_ = modemLineReader_(fd_);
    armModemPoll();
}

void SerialPort::armModemPoll() {
    // The timer looks for a change of Clear To Send where the reader reports modem lines, and
    // for the device's loss while nothing else would see it: an armed read notifier wakes on
    // a hang-up by itself, so then an idle port costs no wake-ups.
    const bool looking =
        fd_ >= 0 && (lastModemLines_ >= 0 || !readNotifier_ || !readNotifier_->isEnabled());
    if (!looking)
        modemPoll_->stop();
    else if (!modemPoll_->isActive())
        modemPoll_->start(lastModemLines_ >= 0 ? kModemPollMs : kPresencePollMs);
}

int SerialPort::InBufferCount() {
    if (fd_ < 0) return 0;
    if (HungUp(fd_)) {
        portLost(QStringLiteral("the device hung up"));
        return 0;
    }
    int avail = 0;
    if (::ioctl(fd_, FIONREAD, &avail) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) {
            portLost(ErrorText(e));
            return 0;
        }
        avail = 0;
    }
    const qint64 total = static_cast<qint64>(inBuffer_.size()) + qMax(avail, 0);
    return static_cast<int>(qMin<qint64>(total, INT_MAX));
}

QByteArray SerialPort::Input() {
    if (fd_ < 0) Raise(QStringLiteral("com%1: port not open").arg(port_));
    if (HungUp(fd_)) {
        portLost(QStringLiteral("the device hung up"));
        Raise(QStringLiteral("com%1: port lost (the device hung up)").arg(port_));
    }
    // Read until nothing waits: with VMIN=0 a read of 0 means "nothing now", EAGAIN too.
    qsizetype taken = 0;
    while (taken < kMaxReadPerCall) {
        const qsizetype old = inBuffer_.size();
        inBuffer_.resize(old + kReadChunk);
        const ssize_t n = ::read(fd_, inBuffer_.data() + old, kReadChunk);
        const int e = errno;
        inBuffer_.resize(old + qMax<ssize_t>(n, 0));
        if (n > 0) {
            taken += n;
            continue;
        }
        if (n == 0) break;
        if (e == EINTR) continue;
        if (e == EAGAIN || e == EWOULDBLOCK) break;
        portLost(ErrorText(e));
        if (inBuffer_.isEmpty())
            Raise(QStringLiteral("com%1: port lost (%2)").arg(port_).arg(ErrorText(e)));
        break;
    }
    QByteArray result;
    result.swap(inBuffer_);
    if (readNotifier_ && fd_ >= 0 && rThreshold_ > 0) readNotifier_->setEnabled(true);
    armModemPoll();
    return result;
}

void SerialPort::Output(const QByteArray& text) {
    if (fd_ < 0) Raise(QStringLiteral("com%1: port not open").arg(port_));
    if (HungUp(fd_)) {
        portLost(QStringLiteral("the device hung up"));
        Raise(QStringLiteral("com%1: port lost (the device hung up)").arg(port_));
    }
    if (text.isEmpty()) return;
    const bool idle = outQueue_.isEmpty();
    outQueue_.append(text);
    // With bytes queued earlier the notifier is already waiting; they go first.
    if (idle) flushOutput();
    if (fd_ < 0) Raise(QStringLiteral("com%1: port lost while writing").arg(port_));
}

void SerialPort::applySettings(const LineSettings& s, int handshaking, int when) {
    const QString& where = where_;
    if (HungUp(fd_)) RaiseLost(QStringLiteral("%1: the device hung up").arg(where));
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) RaiseLost(QStringLiteral("%1: %2").arg(where, ErrorText(e)));
        Raise(QStringLiteral("%1: cannot read the line settings: %2").arg(where, ErrorText(e)));
    }
    MakeTermios(t, s, handshaking);
    if (::tcsetattr(fd_, when, &t) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) RaiseLost(QStringLiteral("%1: %2").arg(where, ErrorText(e)));
        if (hasLineHardware_)
            Raise(QStringLiteral("%1: the device refuses the line settings %2: %3")
                      .arg(where, FormatLineSettings(s), ErrorText(e)));
        return;  // no line hardware: whatever it holds is accepted
    }
    if (!hasLineHardware_) return;  // a pty keeps 8 bits, no parity: accepted as it is
    termios back{};
    if (::tcgetattr(fd_, &back) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) RaiseLost(QStringLiteral("%1: %2").arg(where, ErrorText(e)));
        Raise(
            QStringLiteral("%1: cannot read the line settings back: %2").arg(where, ErrorText(e)));
    }
    if ((back.c_cflag & kFrameBits) != (t.c_cflag & kFrameBits) ||
        cfgetospeed(&back) != cfgetospeed(&t) || cfgetispeed(&back) != cfgetispeed(&t))
        Raise(QStringLiteral("%1: the device does not take the line settings %2")
                  .arg(where, FormatLineSettings(s)));
}

void SerialPort::applyModemLines() {
    // A device without modem lines (a pty) keeps only the flags.
    if (fd_ < 0 || !hasLineHardware_) return;
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if (::ioctl(fd_, dtr_ ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && IsLossErrno(errno)) {
        portLost(ErrorText(errno));
        return;
    }
    if (::ioctl(fd_, rts_ ? TIOCMBIS : TIOCMBIC, &rts) != 0 && IsLossErrno(errno)) {
        portLost(ErrorText(errno));
        return;
    }
}

void SerialPort::pollModemLines() {
    if (fd_ < 0) return;
    if (HungUp(fd_)) {
        portLost(QStringLiteral("the device hung up"));
        return;
    }
    if (lastModemLines_ < 0) return;
    const int lines = modemLineReader_(fd_);
    if (lines < 0) {
        if (RealModemLines(fd_) < 0 && IsLossErrno(errno)) portLost(ErrorText(errno));
        return;
    }
    const bool ctsChanged = ((lines ^ lastModemLines_) & TIOCM_CTS) != 0;
    lastModemLines_ = lines;
    if (ctsChanged) raiseEvent(comEvCTS);
}

void SerialPort::flushOutput() {
    if (fd_ < 0) return;
    while (!outQueue_.isEmpty()) {
        const ssize_t n =
            ::write(fd_, outQueue_.constData(), static_cast<size_t>(outQueue_.size()));
        if (n > 0) {
            outQueue_.remove(0, n);
            written_ += n;
            continue;
        }
        if (n == 0) break;
        const int e = errno;
        if (e == EINTR) continue;
        if (e == EAGAIN || e == EWOULDBLOCK) break;
        portLost(ErrorText(e));
        return;
    }
    if (writeNotifier_) writeNotifier_->setEnabled(!outQueue_.isEmpty());
}

void SerialPort::portLost(const QString& why) {
    if (fd_ < 0) return;  // reported once: the descriptor is gone after the first report
    qWarning().noquote() << QStringLiteral("com%1: port lost: %2").arg(port_).arg(why);
    closeFd();
    raiseEvent(comEventPortLost);
}

void SerialPort::raiseEvent(int code) {
    // Delivered from the event loop, never inside the operation that found the event.
    QTimer::singleShot(0, this, [this, code] {
        commEvent_ = code;
        emit OnComm();
    });
}

void SerialPort::closeFd() {
    modemPoll_->stop();
    for (QSocketNotifier** n : {&writeNotifier_, &readNotifier_}) {
        if (!*n) continue;
        (*n)->setEnabled(false);
        (*n)->deleteLater();  // may be inside its own activated signal
        *n = nullptr;
    }
    outQueue_.clear();
    inBuffer_.clear();
    if (fd_ >= 0) {
        // Dropping what waits also keeps close() from waiting for a slow line to drain.
        ::tcflush(fd_, TCIOFLUSH);
        ::ioctl(fd_, TIOCNXCL);  // the tty may stay open elsewhere: do not leave it exclusive
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
    hasLineHardware_ = false;
    lastModemLines_ = -1;
}

}  // namespace corvane
