// Output: the component's queue and what the device itself holds unsent, which together pace
// the line, and the line's timing. The device's side of it is in serial_output_unix.cpp and
// serial_output_win.cpp.
#include <fmt/core.h>

#include <algorithm>
#include <climits>

#include "links/serial_port.h"
#include "links/serial_port_internal.h"

namespace corvane {

using namespace serial;

void SerialPort::Output(const std::string& text) {
    if (!PortOpen()) Raise(fmt::format("{}: port not open", PortName()));
    if (deviceGone()) {
        portLost("the device hung up");
        Raise(fmt::format("{}: port lost (the device hung up)", PortName()));
    }
    if (text.empty()) return;
    const bool idle = outSent_ == outQueue_.size();
    outQueue_.append(text);
    // With characters queued earlier a wait is already finishing them; they go first.
    if (idle) flushOutput();
    if (!PortOpen()) Raise(fmt::format("{}: port lost while writing", PortName()));
}

int SerialPort::OutBufferCount() const {
    if (!PortOpen()) return 0;
    const std::int64_t device = std::max(outputQueueReader_(handle()), 0);
    const std::int64_t own = static_cast<std::int64_t>(outQueue_.size() - outSent_);
    return static_cast<int>(std::min<std::int64_t>(own + device, INT_MAX));
}

void SerialPort::setOutBufferCount(int count) {
    if (count != 0)
        Raise(fmt::format("{}: the output buffer can only be emptied (0), not set to {}",
                          PortName(), count));
    // A write wait still armed finds nothing to send and is not armed again.
    outQueue_.clear();
    outSent_ = 0;
    if (PortOpen()) {
        purgeDeviceOutput();
        if (outputDropWatcher_) outputDropWatcher_();
    }
}

void SerialPort::setOutputQueueReader(OutputQueueReader reader) {
    if (reader)
        outputQueueReader_ = std::move(reader);
    else
        outputQueueReader_ = [](PortHandle device) { return RealOutputQueue(device); };
}

double SerialPort::BitsPerCharacter() const {
    return 1.0 + settings_.dataBits + (settings_.parity == Parity::None ? 0 : 1) +
           settings_.stopHalves / 2.0;
}

double SerialPort::LineMs(std::int64_t characters) const {
    return 1000.0 * BitsPerCharacter() * static_cast<double>(characters) / settings_.baud;
}

}  // namespace corvane
