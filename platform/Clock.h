#pragma once
// Monotonic clocks: the millisecond tick counter and a nanosecond reading for precise waits.

#include <cstdint>
#include <ctime>

namespace Clock {

#ifdef _WIN32

// Nanoseconds on the performance counter (monotonic, unaffected by changes of the wall clock).
int64_t MonotonicNs();

// Processor time of the whole process, every thread included, in seconds.
double ProcessCpuSeconds();

#else

// Nanoseconds on the monotonic clock (unaffected by changes of the wall clock).
inline int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Processor time of the whole process, every thread included, in seconds (for the benchmarks and the
// soak run's load figures).
inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

#endif

// Milliseconds since an arbitrary start, 32 bits, wrapping; compare differences as signed.
inline uint32_t timeGetTime() {
    return static_cast<uint32_t>(MonotonicNs() / 1000000LL);
}

}  // namespace Clock
