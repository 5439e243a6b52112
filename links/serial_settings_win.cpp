// Line settings and handshaking on a Windows device: the whole DCB in one SetCommState, and
// the rules for a device without line hardware (a pty under Wine), which keeps 8 bits and no
// parity whatever is asked and may not even read back what it holds.
#ifdef _WIN32

#include <fmt/core.h>

#include "links/serial_port.h"
#include "links/serial_port_win.h"

// After Asio, which brings winsock2.h before windows.h.
#include <windows.h>

namespace corvane {

using namespace serial;

namespace {

BYTE ParityFor(Parity p) {
    switch (p) {
        case Parity::Even:
            return EVENPARITY;
        case Parity::Odd:
            return ODDPARITY;
        case Parity::Mark:
            return MARKPARITY;
        case Parity::Space:
            return SPACEPARITY;
        case Parity::None:
            break;
    }
    return NOPARITY;
}

BYTE StopBitsFor(int halves) {
    return halves == 3 ? ONE5STOPBITS : halves == 4 ? TWOSTOPBITS : ONESTOPBIT;
}

// Raw bytes at the given line settings and handshaking, DTR and RTS as the caller has them,
// on top of what the device holds. Received parity is not checked and nothing is replaced or
// dropped, as on Linux; errors do not stop the traffic.
void FillDcb(DCB& d, const LineSettings& s, int handshaking, bool dtr, bool rts) {
    d.DCBlength = sizeof d;
    d.BaudRate = static_cast<DWORD>(s.baud);
    d.ByteSize = static_cast<BYTE>(s.dataBits);
    d.Parity = ParityFor(s.parity);
    d.StopBits = StopBitsFor(s.stopHalves);
    d.fBinary = TRUE;
    d.fParity = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDsrSensitivity = FALSE;
    d.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    d.fOutxCtsFlow = (handshaking & 2) ? TRUE : FALSE;
    d.fRtsControl = (handshaking & 2) ? RTS_CONTROL_HANDSHAKE
                    : rts             ? RTS_CONTROL_ENABLE
                                      : RTS_CONTROL_DISABLE;
    d.fOutX = (handshaking & 1) ? TRUE : FALSE;
    d.fInX = (handshaking & 1) ? TRUE : FALSE;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.fTXContinueOnXoff = TRUE;
    d.fErrorChar = FALSE;
    d.fNull = FALSE;
    d.fAbortOnError = FALSE;
}

}  // namespace

void SerialPort::applySettings(const LineSettings& s, int handshaking, int) {
    const std::string& where = where_;
    DCB d{};
    d.DCBlength = sizeof d;
    if (!::GetCommState(handle_, &d)) {
        const DWORD e = ::GetLastError();
        if (IsLossError(e)) RaiseLost(fmt::format("{}: {}", where, ErrorText(e)));
        if (hasLineHardware_)
            Raise(fmt::format("{}: cannot read the line settings: {}", where, ErrorText(e)));
        // Wine on a pty left at odd parity cannot read it back; all that matters is filled.
        d = DCB{};
    }
    FillDcb(d, s, handshaking, dtr_, rts_);
    if (!::SetCommState(handle_, &d)) {
        const DWORD e = ::GetLastError();
        if (IsLossError(e)) RaiseLost(fmt::format("{}: {}", where, ErrorText(e)));
        if (hasLineHardware_)
            Raise(fmt::format("{}: the device refuses the line settings {}: {}", where,
                              FormatLineSettings(s), ErrorText(e)));
        return;  // no line hardware: whatever it holds is accepted
    }
    if (!hasLineHardware_) return;  // a pty keeps 8 bits, no parity: accepted as it is
    DCB back{};
    back.DCBlength = sizeof back;
    if (!::GetCommState(handle_, &back)) {
        const DWORD e = ::GetLastError();
        if (IsLossError(e)) RaiseLost(fmt::format("{}: {}", where, ErrorText(e)));
        Raise(fmt::format("{}: cannot read the line settings back: {}", where, ErrorText(e)));
    }
    if (back.BaudRate != d.BaudRate || back.ByteSize != d.ByteSize || back.Parity != d.Parity ||
        back.StopBits != d.StopBits)
        Raise(fmt::format("{}: the device does not take the line settings {}", where,
                          FormatLineSettings(s)));
}

}  // namespace corvane

#endif  // _WIN32
