#pragma once
// Wait handles, events and the recursive lock used by the serial component and its watcher.

#include <cstdint>
#include <mutex>

#include "platform/serial/SyncObjects.h"

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An operating-system wait handle; the destructor closes it.
class TVaHandleObject {
public:
    TVaHandleObject() = default;
    virtual ~TVaHandleObject();
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;

    Sync::HANDLE Handle() const { return handle_; }
    uint32_t LastError() const { return lastError_; }

    // Waits Timeout milliseconds (-1 without limit). A failed wait stores the system error in
    // LastError.
    TWaitResult WaitFor(int32_t Timeout);

protected:
    Sync::HANDLE handle_ = nullptr;
    uint32_t lastError_ = 0;
};

class TVaEvent : public TVaHandleObject {
public:
    void SetEvent();
    void ResetEvent();
};

// An unnamed event with manual reset, initially not signalled.
class TVaSimpleEvent : public TVaEvent {
public:
    TVaSimpleEvent();
};

// A lock that the thread holding it may take again.
class TVaCriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }

private:
    std::recursive_mutex mutex_;
};
