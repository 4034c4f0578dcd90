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

}  // namespace

bool Until(int64_t deadlineNs) {
    if (Clock::MonotonicNs() >= deadlineNs) return true;
    TWaitTimer timer;
    if (timer.Handle() == nullptr || !timer.ArmFor(deadlineNs)) return WithQtTimer(deadlineNs);
    bool fired = false;
    bool quitting = false;
    {
        QEventLoop loop;
        QWinEventNotifier notifier(timer.Handle());
        QObject::connect(&notifier, &QWinEventNotifier::activated, &loop, [&] {
            // A timer that woke before the deadline (the performance counter and the timer's clock
            // need not agree to the microsecond) is set again for the rest.
            if (timer.ArmFor(deadlineNs)) return;
            notifier.setEnabled(false);
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
    // A timer that could not be set again leaves the rest of the wait to the coarser one.
    if (Clock::MonotonicNs() < deadlineNs) WithQtTimer(deadlineNs);
    return !quitting;
}

}  // namespace EventLoopWait
