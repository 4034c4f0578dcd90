#pragma once
// Wait objects of our own platform layer: events (on eventfd on Linux, the system's events on
// Windows), waits with time-outs, and the overlapped (started, completed later) operations of the
// serial layer.
//
// An event can carry one started operation. Waiting on the event is what drives that operation:
// on Linux the wait sleeps in poll() on the event and on the descriptors the operation names, lets
// the operation make progress when they become ready; on Windows it sleeps on the event and on the
// operation's own completion event. Either way it signals the event when the operation completes.
// A wait that ends any other way (time-out, or the event set by someone else) cancels the
// operation before it returns, so an operation never outlives the record and buffer it uses.

#ifndef _WIN32
#include <poll.h>
#endif

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Sync {

constexpr int32_t INFINITE = -1;
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_ABANDONED = 0x80;
constexpr uint32_t WAIT_TIMEOUT = 258;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;

#ifdef _WIN32
// A started operation of the system (SyncObjectsWin32.cpp), completed by waits on the event it is
// attached to.
class TOverlappedOp {
public:
    virtual ~TOverlappedOp() = default;
    // The system event that is signalled when the operation has completed.
    virtual void* CompletionEvent() const = 0;
    // After CompletionEvent was signalled: stores the results in the caller's record.
    virtual void Complete() = 0;
    // Cancels the operation that a wait gave up on and returns only when the system no longer
    // uses the caller's record and buffer.
    virtual void Cancel() = 0;
};
#else
// A started operation, driven by waits on the event it is attached to.
class TOverlappedOp {
public:
    virtual ~TOverlappedOp() = default;
    // Returns true when the operation has completed (results stored) without waiting. Otherwise
    // appends the descriptors to wait on and sets DeadlineNs (monotonic) when the operation
    // completes by itself at a certain time (-1: no deadline). Every Prepare that returns false
    // is followed by exactly one Advance.
    virtual bool Prepare(std::vector<pollfd>& Fds, int64_t& DeadlineNs) = 0;
    // After the wait: Fds holds the results of the descriptors that Prepare appended. Returns
    // true when the operation has completed (results stored).
    virtual bool Advance(const pollfd* Fds, int64_t NowNs) = 0;
    // Cancels the operation that a wait gave up on; the caller's record is still valid.
    virtual void Cancel() = 0;
};
#endif

// An event with manual or automatic reset. On Linux it is readable (POLLIN) on Fd() while
// signalled; on Windows Native() is the system event.
class TEventObject {
public:
    TEventObject(bool ManualReset, bool InitialState);
    ~TEventObject();
    TEventObject(const TEventObject&) = delete;
    TEventObject& operator=(const TEventObject&) = delete;

    bool Set();
    bool Reset();
    bool IsSignalled() const;
#ifdef _WIN32
    void* Native() const {
        return event_;
    }
#else
    int Fd() const {
        return fd_;
    }
#endif

    // Gives the event a started operation to drive; a previous one is dropped.
    void Attach(std::unique_ptr<TOverlappedOp> Op);
    bool HasOperation() const;

    uint32_t Wait(int32_t TimeoutMs);

private:
    bool TryConsume();
    std::unique_ptr<TOverlappedOp> TakeOperation();

    const bool manualReset_;
#ifdef _WIN32
    void* event_ = nullptr;
#else
    int fd_ = -1;
#endif
    mutable std::mutex mutex_;
    bool signalled_ = false;
    std::unique_ptr<TOverlappedOp> op_;
};

using HANDLE = TEventObject*;

// The platform calls in the shape the components use. Errors go to the thread's last error
// (Serial::GetLastError).
HANDLE CreateEvent(bool ManualReset, bool InitialState);
bool SetEvent(HANDLE Event);
bool ResetEvent(HANDLE Event);
uint32_t WaitForSingleObject(HANDLE Event, int32_t TimeoutMs);
bool CloseHandle(HANDLE Event);

}  // namespace Sync
