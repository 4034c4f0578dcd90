// The paced wait: pauses a handler while the program stays live and the beacon's text is still taken in.
#include "link/Delay.h"

#include <cmath>
#include <cstdint>

#include "platform/EventLoopWait.h"

namespace PacedWait {

// Sleeps in a nested event loop until the deadline, so that every event that arrives meanwhile (input,
// the serial port's and the countdown's hand-offs) runs at once, and no processor time is spent between
// events. A zero or negative argument returns at once without dispatching anything. The wait lasts its
// full time even while the program is quitting, so that no pause between two characters sent to the
// beacon is lost. The time is read from the installed clock, so that tests can pin the pace.
void Delay(double units) {
    EventLoopWait::TClock& clock = EventLoopWait::CurrentClock();
    clock.WaitUntil(clock.NowNs() + static_cast<int64_t>(std::llround(units * (kUnitSeconds * 1e9))));
}

}  // namespace PacedWait
