// The paced wait: pauses a handler while the window stays live and the beacon's text is still taken in.
#include <QEventLoop>
#include <QTimer>
#include <cmath>

#include "app/ZB.h"
#include "platform/Clock.h"

namespace {
// One unit is 0.0000115 day.
constexpr double kUnitNs = 0.0000115 * 86400.0 * 1e9;
}  // namespace

// Sleeps in a nested event loop until the deadline, so that every event that arrives meanwhile (input,
// the serial port's and the countdown's hand-offs) runs at once, and no processor time is spent between
// events. A zero or negative argument returns at once without dispatching anything.
void TForm1::Delay(double units) {
    const int64_t target = Clock::MonotonicNs() + static_cast<int64_t>(std::llround(units * kUnitNs));
    for (int64_t now = Clock::MonotonicNs(); now < target; now = Clock::MonotonicNs()) {
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        bool fired = false;
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            fired = true;
            loop.quit();
        });
        // Whole milliseconds, rounded up, so the wait never ends before the deadline.
        timer.start(static_cast<int>((target - now + 999999) / 1000000));
        loop.exec();
        // The application ended every running loop (it is quitting): stop waiting.
        if (!fired) return;
    }
}
