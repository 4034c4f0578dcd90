#pragma once
// A timer whose ticks are timed by a worker thread against the millisecond tick counter and
// delivered on the GUI thread. Besides ticking it keeps a millisecond count, Time, that runs up
// or (CountDown) down while enabled, and stops itself with OnStop when the count runs out or
// reaches StopTicks.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/VaClasses.h"
#include "platform/Thread.h"

class TSuperTimer;

// The timing thread of a TSuperTimer: sleeps to each due time on the monotonic clock, takes the
// tick and hands it to the GUI thread. A tick handler that runs longer than 50 ms makes the next
// tick late by the excess. While the timer is disabled it waits for the next enabling.
class TTimerThread final : public TThread {
public:
    explicit TTimerThread(TSuperTimer* Timer) : timer_(Timer) {}
    ~TTimerThread() override { TerminateAndWait(); }

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    TSuperTimer* timer_;
};

class TSuperTimer : public TVaComponent {
public:
    explicit TSuperTimer(TObject* Owner = nullptr);
    // Disables the timer and ends the worker; no tick or stop event follows.
    ~TSuperTimer() override;

    bool Enabled() const;
    // Enabling starts the schedule: the first tick is due one Interval later. Enabling with
    // Interval 0 leaves the timer disabled.
    void SetEnabled(bool Value);
    uint16_t Interval() const;
    // 0 disables the timer. A running timer keeps the due time of the tick already scheduled.
    void SetInterval(uint16_t Value);
    TThreadPriority ThreadPriority() const;
    void SetThreadPriority(TThreadPriority Value);
    bool CountDown() const;
    // Changes the direction of Time without a jump.
    void SetCountDown(bool Value);
    int32_t Time() const;
    // Time divided by Interval, truncated toward zero (0 while Interval is 0).
    int32_t Ticks() const;
    int32_t StopTicks() const;
    void SetStopTicks(int32_t Value);

    TNotifyEvent OnTimer;
    TNotifyEvent OnStop;

    // The per-tick routine, on the GUI thread: OnTimer, then the stop decision.
    virtual void Timer();

private:
    friend class TTimerThread;
    // GUI thread: runs a tick that the worker took while Generation was current.
    void RunTick(uint64_t Generation);
    // Under mutex_: Time at the moment Now (tick counter).
    int32_t TimeAt(uint32_t Now) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // enabling, due-time changes and termination
    bool enabled_ = false;
    uint16_t interval_ = 1000;
    TThreadPriority threadPriority_ = tpHigher;
    int32_t time_ = 0;
    bool countDown_ = false;
    int32_t stopTicks_ = -1;
    uint32_t nextTick_ = 0;
    int32_t baseTime_ = 0;
    uint32_t startTick_ = 0;
    // The worker watches the tick counter for the last kWatchMs before a tick; before that it sleeps
    // from the end of the previous hand-off, so no tick comes before resumeTick_.
    static constexpr uint16_t kWatchMs = 50;
    uint32_t resumeTick_ = 0;
    uint64_t generation_ = 0;  // advanced by every enabling and disabling
    std::unique_ptr<TTimerThread> worker_;
};
