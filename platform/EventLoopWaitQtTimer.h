#pragma once
// The paced wait where the system gives no finer timer: Qt's precise timer, to the millisecond.

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdint>

#include "platform/Clock.h"

namespace EventLoopWait {

// Fallback where no timer descriptor can be had: Qt's precise timer, to the millisecond, rounded up.
inline bool WithQtTimer(int64_t deadlineNs) {
    for (int64_t now = Clock::MonotonicNs(); now < deadlineNs; now = Clock::MonotonicNs()) {
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        bool fired = false;
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            fired = true;
            loop.quit();
        });
        timer.start(static_cast<int>((deadlineNs - now + 999999) / 1000000));
        loop.exec();
        while (!fired)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace EventLoopWait
