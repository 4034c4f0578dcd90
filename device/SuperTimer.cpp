#include "device/SuperTimer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "platform/Application.h"
#include "platform/Clock.h"

// ---- TTimerThread ----

void TTimerThread::TerminatedSet() {
    std::lock_guard lock(timer_->mutex_);
    timer_->changed_.notify_all();
}

void TTimerThread::Execute() {
    TSuperTimer* t = timer_;
    std::unique_lock lock(t->mutex_);
    while (!Terminated()) {
        if (!t->enabled_) {
            t->changed_.wait(lock);
            continue;
        }
        // Sleep to the due time on the monotonic clock; the tick counter reads NextTick from the
        // start of that millisecond on. Every wake-up re-reads the schedule, which an enabling or
        // a disabling may have changed. The due time is NextTick, or later when the last tick's
        // handler returned less than Interval - 50 ms before it: after each hand-off the worker
        // sleeps that long before it watches the counter for the last 50 ms, so a handler that runs
        // longer than 50 ms makes the next tick late by the excess.
        const int64_t nowNs = Clock::MonotonicNs();
        const int64_t nowMs = nowNs / 1000000;
        const uint32_t now = static_cast<uint32_t>(nowMs);
        const int32_t early =
            std::max(static_cast<int32_t>(t->nextTick_ - now), static_cast<int32_t>(t->resumeTick_ - now));
        if (early > 0) {
            const std::chrono::steady_clock::time_point due{
                std::chrono::nanoseconds((nowMs + early) * 1000000)};
            t->changed_.wait_until(lock, due);
            continue;
        }
        // Take the tick. The next one counts from now, not from the due time.
        t->nextTick_ = now + t->interval_;
        t->time_ = t->TimeAt(now);
        const uint64_t generation = t->generation_;
        lock.unlock();
        Synchronize([t, generation] { t->RunTick(generation); });
        lock.lock();
        t->resumeTick_ = Clock::timeGetTime() +
                         (t->interval_ > TSuperTimer::kWatchMs ? t->interval_ - TSuperTimer::kWatchMs : 0);
    }
}

// ---- TSuperTimer ----

TSuperTimer::TSuperTimer(TObject* Owner)
    : TVaComponent(Owner), worker_(std::make_unique<TTimerThread>(this)) {
    worker_->SetPriority(threadPriority_);
}

TSuperTimer::~TSuperTimer() {
    {
        std::lock_guard lock(mutex_);
        enabled_ = false;
        ++generation_;
    }
    worker_.reset();  // cancels a tick waiting for the GUI thread and joins the worker
}

bool TSuperTimer::Enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

void TSuperTimer::SetEnabled(bool Value) {
    {
        std::lock_guard lock(mutex_);
        if (Value == enabled_) return;
        if (Value && interval_ == 0) return;
        enabled_ = Value;
        ++generation_;
        if (Value) {
            baseTime_ = time_;
            startTick_ = Clock::timeGetTime();
            nextTick_ = startTick_ + interval_;
            // A hand-off that returned long ago no longer holds the schedule back.
            resumeTick_ = startTick_;
        }
    }
    changed_.notify_all();
    if (Value) worker_->Start();  // the worker first runs at the first enabling
}

uint16_t TSuperTimer::Interval() const {
    std::lock_guard lock(mutex_);
    return interval_;
}

void TSuperTimer::SetInterval(uint16_t Value) {
    if (Value == Interval()) return;
    if (Value == 0) SetEnabled(false);
    std::lock_guard lock(mutex_);
    interval_ = Value;
}

TThreadPriority TSuperTimer::ThreadPriority() const {
    std::lock_guard lock(mutex_);
    return threadPriority_;
}

void TSuperTimer::SetThreadPriority(TThreadPriority Value) {
    {
        std::lock_guard lock(mutex_);
        if (Value == threadPriority_) return;
        threadPriority_ = Value;
    }
    worker_->SetPriority(Value);
}

bool TSuperTimer::CountDown() const {
    std::lock_guard lock(mutex_);
    return countDown_;
}

void TSuperTimer::SetCountDown(bool Value) {
    std::lock_guard lock(mutex_);
    if (Value == countDown_) return;
    if (enabled_) {
        // Bring Time to the present in the old direction, then run on from there.
        const uint32_t now = Clock::timeGetTime();
        time_ = TimeAt(now);
        baseTime_ = time_;
        startTick_ = now;
    }
    countDown_ = Value;
}

int32_t TSuperTimer::Time() const {
    std::lock_guard lock(mutex_);
    return time_;
}

int32_t TSuperTimer::Ticks() const {
    std::lock_guard lock(mutex_);
    return interval_ == 0 ? 0 : time_ / interval_;
}

int32_t TSuperTimer::StopTicks() const {
    std::lock_guard lock(mutex_);
    return stopTicks_;
}

void TSuperTimer::SetStopTicks(int32_t Value) {
    std::lock_guard lock(mutex_);
    stopTicks_ = Value;
}

int32_t TSuperTimer::TimeAt(uint32_t Now) const {
    const int32_t elapsed = static_cast<int32_t>(Now - startTick_);
    return countDown_ ? baseTime_ - elapsed : baseTime_ + elapsed;
}

void TSuperTimer::RunTick(uint64_t Generation) {
    {
        std::lock_guard lock(mutex_);
        if (!enabled_ || Generation != generation_) return;  // disabled since the tick was taken
    }
    try {
        Timer();
    } catch (const std::exception& error) {
        Application::HandleException(error);
    } catch (...) {
        Application::HandleException(std::runtime_error("Unknown error in a timer event"));
    }
}

void TSuperTimer::Timer() {
    if (OnTimer) OnTimer(this);
    bool stop;
    {
        std::lock_guard lock(mutex_);
        const int32_t ticks = interval_ == 0 ? 0 : time_ / interval_;
        if (countDown_) {
            stop = ticks <= stopTicks_ || time_ <= 0;
        } else {
            stop = stopTicks_ > 0 && ticks >= stopTicks_;
        }
    }
    if (stop) {
        SetEnabled(false);
        if (OnStop) OnStop(this);
    }
}
