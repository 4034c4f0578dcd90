// The paced wait on Linux: a timer descriptor on the monotonic clock wakes the nested loop.
#include <sys/timerfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include "platform/Clock.h"
#include "platform/EventLoopWait.h"
#include "platform/EventLoopWaitQtTimer.h"

namespace EventLoopWait {

bool Until(int64_t deadlineNs) {
    if (Clock::MonotonicNs() >= deadlineNs) return true;
    // A timer descriptor on the monotonic clock wakes the loop at the deadline to the microsecond,
    // where Qt's own timers count whole milliseconds.
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) return WithQtTimer(deadlineNs);
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(deadlineNs / 1000000000LL);
    due.it_value.tv_nsec = static_cast<long>(deadlineNs % 1000000000LL);
    if (::timerfd_settime(fd, TFD_TIMER_ABSTIME, &due, nullptr) != 0) {
        ::close(fd);
        return WithQtTimer(deadlineNs);
    }
    bool fired = false;
    bool quitting = false;
    {
        QEventLoop loop;
        QSocketNotifier notifier(fd, QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
            // Once is enough: a readable descriptor would otherwise wake every loop nested in this one.
            notifier.setEnabled(false);
            fired = true;
            loop.quit();
        });
        loop.exec();
        // The application ended every running loop and starts no new one: the wait still lasts its
        // full time (a pause between two characters sent to the beacon must not vanish), dispatching
        // events as they come.
        while (!fired) {
            quitting = true;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    ::close(fd);
    return !quitting;
}

}  // namespace EventLoopWait
