// Line settings and handshaking on a Linux device: termios in raw mode, and the rules for a
// device without line hardware (a pty), which keeps 8 bits and no parity whatever is asked.
#include <fmt/core.h>
#include <termios.h>

#include <cerrno>

#include "links/serial_port.h"
#include "links/serial_port_unix.h"

namespace corvane {

using namespace serial;

namespace {

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

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

}  // namespace

void SerialPort::applySettings(const LineSettings& s, int handshaking, int when) {
    const std::string& where = where_;
    if (HungUp(fd_)) RaiseLost(fmt::format("{}: the device hung up", where));
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) RaiseLost(fmt::format("{}: {}", where, ErrorText(e)));
        Raise(fmt::format("{}: cannot read the line settings: {}", where, ErrorText(e)));
    }
    MakeTermios(t, s, handshaking);
    if (::tcsetattr(fd_, when == kApplyAfterDrain ? TCSADRAIN : TCSANOW, &t) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) RaiseLost(fmt::format("{}: {}", where, ErrorText(e)));
        if (hasLineHardware_)
            Raise(fmt::format("{}: the device refuses the line settings {}: {}", where,
                              FormatLineSettings(s), ErrorText(e)));
        return;  // no line hardware: whatever it holds is accepted
    }
    if (!hasLineHardware_) return;  // a pty keeps 8 bits, no parity: accepted as it is
    termios back{};
    if (::tcgetattr(fd_, &back) != 0) {
        const int e = errno;
        if (IsLossErrno(e)) RaiseLost(fmt::format("{}: {}", where, ErrorText(e)));
        Raise(fmt::format("{}: cannot read the line settings back: {}", where, ErrorText(e)));
    }
    if ((back.c_cflag & kFrameBits) != (t.c_cflag & kFrameBits) ||
        cfgetospeed(&back) != cfgetospeed(&t) || cfgetispeed(&back) != cfgetispeed(&t))
        Raise(fmt::format("{}: the device does not take the line settings {}", where,
                          FormatLineSettings(s)));
}

}  // namespace corvane
