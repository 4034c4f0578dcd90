// The paced wait on Windows: a waitable timer, watched by the event loop, wakes the nested loop.
#include <windows.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QWinEventNotifier>
#include <algorithm>

#include "platform/Clock.h"
#include "platform/EventLoopWait.h"
#include "platform/EventLoopWaitQtTimer.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x2
#endif

namespace EventLoopWait {
namespace {

// A waitable timer that resets itself once a wait has seen it. A high-resolution one where the system
// has them (it wakes to well under a millisecond); otherwise an ordinary one, whose wake-ups follow the
// system's timer period, which the wait then asks to be one millisecond.
class TWaitTimer {
public:
    TWaitTimer() {
        handle_ =
            CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        if (handle_ != nullptr) return;
        handle_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        finePeriod_ = handle_ != nullptr && timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    TWaitTimer(const TWaitTimer&) = delete;
    TWaitTimer& operator=(const TWaitTimer&) = delete;
    ~TWaitTimer() {
        if (finePeriod_) timeEndPeriod(1);
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    HANDLE Handle() const { return handle_; }

    // Sets the timer to the time left until `deadlineNs`; false when the deadline has passed or the
    // timer cannot be set.
    bool ArmFor(int64_t deadlineNs) {
        const int64_t left = deadlineNs - Clock::MonotonicNs();
        if (left <= 0) return false;
        LARGE_INTEGER due{};
        due.QuadPart = -std::max<int64_t>(1, left / 100);  // relative, in units of 100 ns
        return SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE) != 0;
    }

private:
    HANDLE handle_ = nullptr;
    bool finePeriod_ = false;
};

// The timer wakes the loop this long before the deadline, and the last stretch passes dispatching events
// without sleeping: the hand-over of the timer's signal to the event loop takes a while of its own, and
// so the wait still ends within a fraction of a millisecond. A millisecond of every wait is spent awake.
constexpr int64_t kLeadNs = 1000000;

// Dispatches events without sleeping until the monotonic clock reaches the deadline.
void FinishAwake(int64_t deadlineNs) {
    while (Clock::MonotonicNs() < deadlineNs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        SwitchToThread();
    }
}

}  // namespace

bool Until(int64_t deadlineNs) {
    const int64_t now = Clock::MonotonicNs();
    if (now >= deadlineNs) return true;
    if (deadlineNs - now <= kLeadNs) {
        FinishAwake(deadlineNs);
        return true;
    }
    const int64_t wakeNs = deadlineNs - kLeadNs;
    TWaitTimer timer;
    if (timer.Handle() == nullptr || !timer.ArmFor(wakeNs)) return WithQtTimer(deadlineNs);
    bool fired = false;
    bool quitting = false;
    {
        QEventLoop loop;
        QWinEventNotifier notifier(timer.Handle());
        QObject::connect(&notifier, &QWinEventNotifier::activated, &loop, [&] {
            // A timer that woke early (the performance counter and the timer's clock need not agree to the
            // microsecond) is set again for the rest.
            if (Clock::MonotonicNs() < wakeNs && timer.ArmFor(wakeNs)) return;
            notifier.setEnabled(false);
            FinishAwake(deadlineNs);
            fired = true;
            loop.quit();
        });
        loop.exec();
        // The application ended every running loop and starts no new one: the wait still lasts its
        // full time, dispatching events as they come.
        while (!fired) {
            quitting = true;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    return !quitting;
}

}  // namespace EventLoopWait
