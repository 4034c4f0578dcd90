#pragma once
// Monotonic clocks: the millisecond tick counter and a nanosecond reading for precise waits.

#include <cstdint>
#include <ctime>

namespace Clock {

// Nanoseconds on the monotonic clock (unaffected by changes of the wall clock).
inline int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Milliseconds since an arbitrary start, 32 bits, wrapping; compare differences as signed.
inline uint32_t timeGetTime() { return static_cast<uint32_t>(MonotonicNs() / 1000000LL); }

}  // namespace Clock
