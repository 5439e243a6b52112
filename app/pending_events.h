// Processing of pending events from inside a handler, as the nested waits do.
#pragma once

#include <QTimer>

namespace corvane {

// Keeps a nested wait awake every millisecond while it lives, also when the pump's own timer
// is not running (a test that ticks the pump by hand, a window being closed).
class KeepAwake {
  public:
    KeepAwake() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.start(1);
    }

  private:
    QTimer timer_;
};

// Handles the events that are pending now, without waiting.
void DoEventsNow();
// Waits for the next event (the 1 ms pump timer bounds the wait) and handles what is pending.
void DoEventsWaiting();

}  // namespace corvane
