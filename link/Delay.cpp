// The paced wait: pauses a handler while the window stays live and the beacon's text is still taken in.
#include <cmath>

#include "app/ZB.h"
#include "platform/EventLoopWait.h"

namespace {
// One unit is 0.0000115 day: 0.9936 s.
constexpr double kUnitNs = 0.0000115 * 86400.0 * 1e9;
}  // namespace

// Sleeps in a nested event loop until the deadline, so that every event that arrives meanwhile (input,
// the serial port's and the countdown's hand-offs) runs at once, and no processor time is spent between
// events. A zero or negative argument returns at once without dispatching anything. The wait lasts its
// full time even while the program is quitting, so that no pause between two characters sent to the
// beacon is lost.
void TForm1::Delay(double units) {
    EventLoopWait::TClock& clock = EventLoopWait::CurrentClock();
    clock.WaitUntil(clock.NowNs() + static_cast<int64_t>(std::llround(units * kUnitNs)));
}
