// The serial port component's parts that are the same on every platform: the port's name,
// the device's loss and the delivery of events.
#include "links/serial_port.h"

#include <fmt/core.h>

#include <asio/post.hpp>

#include "links/serial_port_internal.h"

namespace corvane {

void serial::Raise(const std::string& text) { throw CommError(text); }
void serial::RaiseLost(const std::string& text) { throw DeviceLost(text); }

using namespace serial;

SerialPort::SerialPort(asio::io_context& io)
    : io_(io), watch_(std::make_unique<Watch>(io)), alive_(std::make_shared<bool>(true)) {
    settings_ = *ParseLineSettings(settingsText_);
    setModemLineReader(nullptr);
    setOutputQueueReader(nullptr);
}

SerialPort::~SerialPort() {
    *alive_ = false;  // handlers still queued on the io_context find it and touch nothing
    closeDevice();
}

void SerialPort::setCommPort(int n) {
    if (PortOpen())
        Raise(fmt::format(
            "com{}: port already open; the port number cannot change while it is open", port_));
    port_ = n;
}

std::string SerialPort::PortName() const {
    return devicePath_.empty() ? fmt::format("com{}", port_) : devicePath_;
}

// The flags are kept as given; each platform sets the lines of a device that has them.
void SerialPort::setDTREnable(bool on) {
    dtr_ = on;
    applyModemLines();
}

void SerialPort::setRTSEnable(bool on) {
    rts_ = on;
    applyModemLines();
}

void SerialPort::portLost(const std::string& why) {
    if (!PortOpen()) return;  // reported once: the device is closed after the first report
    lostReason_ = why;
    closeDevice();
    raiseEvent(comEventPortLost);
}

void SerialPort::raiseEvent(int code) {
    // Delivered from the io_context, never inside the operation that found the event.
    asio::post(io_, [this, alive = alive_, code] {
        if (!*alive) return;
        commEvent_ = code;
        if (OnComm) OnComm();
    });
}

}  // namespace corvane
