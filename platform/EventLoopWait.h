#pragma once
// Waiting inside a handler while the GUI thread keeps dispatching its events.

#include <cstdint>

namespace EventLoopWait {

// Runs a nested event loop until the monotonic clock (Clock::MonotonicNs) reaches `deadlineNs`: every
// event that arrives meanwhile (input, posted hand-offs of worker threads, timers) runs at once, and the
// thread sleeps between events. The deadline is kept to well under a millisecond. The wait lasts its full
// time even when the application starts quitting meanwhile; it then returns false. Call on the GUI thread.
bool Until(int64_t deadlineNs);

}  // namespace EventLoopWait
