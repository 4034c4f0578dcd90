#pragma once
// Waiting inside a handler while the GUI thread keeps dispatching its events.

#include <cstdint>

namespace EventLoopWait {

// Runs a nested event loop until the monotonic clock (Clock::MonotonicNs) reaches `deadlineNs`: every
// event that arrives meanwhile (input, posted hand-offs of worker threads, timers) runs at once, and the
// thread sleeps between events. The deadline is kept to well under a millisecond. Returns false when the
// application ended the loop early because it is quitting. Call on the GUI thread.
bool Until(int64_t deadlineNs);

}  // namespace EventLoopWait
