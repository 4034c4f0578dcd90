#pragma once
// Waiting inside a handler while the GUI thread keeps dispatching its events.

#include <cstdint>

namespace EventLoopWait {

// Runs a nested event loop until the monotonic clock (Clock::MonotonicNs) reaches `deadlineNs`: every
// event that arrives meanwhile (input, posted hand-offs of worker threads, timers) runs at once, and the
// thread sleeps between events. The deadline is kept to well under a millisecond. The wait lasts its full
// time even when the application starts quitting meanwhile; it then returns false. Call on the GUI thread.
bool Until(int64_t deadlineNs);

// The clock that paced waits read and wait on. The system's (the monotonic clock and Until) serves
// unless another one is installed, for example a simulated clock that lets time pass at once.
class TClock {
public:
    virtual ~TClock() = default;
    virtual int64_t NowNs() = 0;
    // Waits, dispatching events, until NowNs reaches `deadlineNs`; returns as Until does.
    virtual bool WaitUntil(int64_t deadlineNs) = 0;
};

// The clock in use on the GUI thread.
TClock& CurrentClock();

// Installs a clock for its own lifetime and puts the previous one back at the end. GUI thread only.
class TUseClock {
public:
    explicit TUseClock(TClock& clock);
    ~TUseClock();
    TUseClock(const TUseClock&) = delete;
    TUseClock& operator=(const TUseClock&) = delete;

private:
    TClock* previous_;
};

}  // namespace EventLoopWait
