// What the parts of the serial port component share on every platform: its error helpers and
// the device's own output count; the platform's waits come with it.
#pragma once

#include <string>

#include "links/serial_port.h"

namespace corvane {

// Raised inside the component when the device turned out to be gone; callers that are
// open turn it into portLost.
class DeviceLost : public CommError {
  public:
    using CommError::CommError;
};

namespace serial {

[[noreturn]] void Raise(const std::string& text);
[[noreturn]] void RaiseLost(const std::string& text);

// applySettings' `when`: at once, or once the device has sent what it holds.
constexpr int kApplyNow = 0;
constexpr int kApplyAfterDrain = 1;

// What the device holds unsent, as it reports it; -1 when it cannot tell.
int RealOutputQueue(PortHandle device);

}  // namespace serial

}  // namespace corvane

#ifdef _WIN32
#include "links/serial_port_win.h"
#else
#include "links/serial_port_unix.h"
#endif
