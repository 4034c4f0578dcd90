#include "platform/EventLoopWait.h"

#include "platform/Clock.h"

namespace EventLoopWait {

namespace {

class TSystemClock final : public TClock {
public:
    int64_t NowNs() override { return Clock::MonotonicNs(); }
    bool WaitUntil(int64_t deadlineNs) override { return Until(deadlineNs); }
};

TSystemClock systemClock;
TClock* current = &systemClock;

}  // namespace

TClock& CurrentClock() {
    return *current;
}

TUseClock::TUseClock(TClock& clock) : previous_(current) {
    current = &clock;
}

TUseClock::~TUseClock() {
    current = previous_;
}

}  // namespace EventLoopWait
