// Processing of pending events from inside a handler, as the nested waits do.
#pragma once

namespace corvane {

// Handles the events that are pending now, without waiting.
void DoEventsNow();
// Waits for the next event (the 1 ms pump timer bounds the wait) and handles what is pending.
void DoEventsWaiting();

}  // namespace corvane
