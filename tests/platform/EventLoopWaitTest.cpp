// The paced wait's nested event loop on the system's clock: its precision, the events it runs while it
// waits, nested waits, and a wait that the application's quitting must not cut short.
#include "platform/EventLoopWait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Thread.h"

namespace {

constexpr int64_t kMs = 1000000;

// How late a wait may end, as a rule (the median of several): Windows' timers wake a little later.
#ifdef _WIN32
constexpr int64_t kLatenessNs = 1500000;
#else
constexpr int64_t kLatenessNs = 1000000;
#endif

// Waits `ms` milliseconds from now and returns how long the wait took, in nanoseconds.
int64_t Wait(int64_t ms) {
    const int64_t start = Clock::MonotonicNs();
    EventLoopWait::Until(start + ms * kMs);
    return Clock::MonotonicNs() - start;
}

}  // namespace

TEST(EventLoopWait, NeverEndsEarlyAndAsARuleWithinAFewHundredMicroseconds) {
    std::vector<int64_t> late;
    for (int i = 0; i < 15; ++i) {
        const int64_t took = Wait(3);
        EXPECT_GE(took, 3 * kMs);
        late.push_back(took - 3 * kMs);
    }
    std::sort(late.begin(), late.end());
    EXPECT_LE(late[late.size() / 2], kLatenessNs) << "median lateness in ns";
    // A deadline already passed returns at once.
    EXPECT_TRUE(EventLoopWait::Until(Clock::MonotonicNs() - kMs));
}

TEST(EventLoopWait, RunsWhatArrivesMeanwhileAndNestedWaitsKeepTheirDeadlines) {
    // A worker thread's routine, handed to the GUI thread as the serial watcher hands over its events, runs
    // inside the wait, not after it.
    std::atomic<bool> ranInside{false};
    bool waiting = true;
    std::thread worker([&] { TThread::Synchronize(nullptr, [&] { ranInside = waiting; }); });
    Wait(50);
    waiting = false;
    worker.join();
    EXPECT_TRUE(ranInside);

    // A wait started inside another ends at its own deadline; the outer one resumes only after it, and
    // its deadline passing meanwhile does not keep the processor busy.
    int64_t inner = 0;
    QTimer::singleShot(10, [&] { inner = Wait(300); });
    const double cpuBefore = Clock::ProcessCpuSeconds();
    const int64_t outer = Wait(100);
    EXPECT_GE(inner, 300 * kMs);
    EXPECT_GE(outer, 300 * kMs);
    EXPECT_LT(Clock::ProcessCpuSeconds() - cpuBefore, 0.15);
}

TEST(EventLoopWait, LastsItsFullTimeWhileTheApplicationQuits) {
    int64_t waited = 0;
    bool result = true;
    QTimer::singleShot(0, [&] {
        const int64_t start = Clock::MonotonicNs();
        result = EventLoopWait::Until(start + 300 * kMs);
        waited = Clock::MonotonicNs() - start;
    });
    QTimer::singleShot(50, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_GE(waited, 300 * kMs);
    EXPECT_FALSE(result);
}
