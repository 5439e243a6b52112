// Processing of pending events from inside a handler, as the nested waits do.
#pragma once

#include <QTimer>

namespace corvane {

// Wakes a nested wait every `everyMs` while it lives, for a condition that changes without
// an event of its own (a device's output queue emptying). With `once`, it wakes the wait a
// single time, at a deadline the wait checks.
class KeepAwake {
  public:
    explicit KeepAwake(int everyMs = 1, bool once = false) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(once);
        timer_.start(everyMs);
    }

  private:
    QTimer timer_;
};

// Handles the events that are pending now, without waiting.
void DoEventsNow();
// Waits for the next event, however long it takes, and handles what is pending: a caller
// whose condition may change without an event keeps a KeepAwake.
void DoEventsWaiting();

}  // namespace corvane
