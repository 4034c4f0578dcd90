// The clocks on Windows: the performance counter, and the process's kernel and user times.
#include <windows.h>

#include "platform/Clock.h"

namespace Clock {

int64_t MonotonicNs() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER count{};
    QueryPerformanceCounter(&count);
    // Whole seconds and the remainder apart, so that the product cannot overflow.
    const auto ticks = static_cast<int64_t>(count.QuadPart);
    return ticks / frequency * 1000000000LL + ticks % frequency * 1000000000LL / frequency;
}

double ProcessCpuSeconds() {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0.0;
    const auto hundredNs = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (hundredNs(kernel) + hundredNs(user)) / 1e7;
}

}  // namespace Clock
