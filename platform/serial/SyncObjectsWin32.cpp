#include "platform/serial/SyncObjects.h"

#include <system_error>
#include <utility>

#include "platform/serial/SysError.h"

// The system's headers come after ours: their macros (INFINITE, WAIT_TIMEOUT, CreateEvent) would
// otherwise rewrite our declarations. Below, those names are the system's; they have our values.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef CreateEvent

namespace Sync {

TEventObject::TEventObject(bool ManualReset, bool InitialState) : manualReset_(ManualReset) {
    event_ = ::CreateEventW(nullptr, ManualReset, InitialState, nullptr);
    if (event_ == nullptr)
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
}

TEventObject::~TEventObject() {
    op_.reset();  // a started operation is cancelled before its event goes
    if (event_ != nullptr) ::CloseHandle(event_);
}

bool TEventObject::Set() {
    return ::SetEvent(event_) != FALSE;
}

bool TEventObject::Reset() {
    return ::ResetEvent(event_) != FALSE;
}

bool TEventObject::IsSignalled() const {
    if (::WaitForSingleObject(event_, 0) != WAIT_OBJECT_0) return false;
    if (!manualReset_) ::SetEvent(event_);  // looking must not consume it
    return true;
}

bool TEventObject::TryConsume() {
    return ::WaitForSingleObject(event_, 0) == WAIT_OBJECT_0;
}

void TEventObject::Attach(std::unique_ptr<TOverlappedOp> Op) {
    std::unique_ptr<TOverlappedOp> previous;
    std::lock_guard lock(mutex_);
    previous = std::exchange(op_, std::move(Op));
}

bool TEventObject::HasOperation() const {
    std::lock_guard lock(mutex_);
    return op_ != nullptr;
}

std::unique_ptr<TOverlappedOp> TEventObject::TakeOperation() {
    std::lock_guard lock(mutex_);
    return std::move(op_);
}

uint32_t TEventObject::Wait(int32_t TimeoutMs) {
    const DWORD timeout = TimeoutMs < 0 ? INFINITE : static_cast<DWORD>(TimeoutMs);
    std::unique_ptr<TOverlappedOp> op = TakeOperation();
    if (!op) {
        switch (::WaitForSingleObject(event_, timeout)) {
            case WAIT_OBJECT_0:
                return WAIT_OBJECT_0;
            case WAIT_TIMEOUT:
                return WAIT_TIMEOUT;
            default:
                return WAIT_FAILED;
        }
    }
    // The event first: set by someone else, it gives the operation up even when both are signalled.
    const ::HANDLE handles[2] = {event_, op->CompletionEvent()};
    const DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, timeout);
    if (result == WAIT_OBJECT_0) {
        op->Cancel();
        return WAIT_OBJECT_0;
    }
    if (result == WAIT_OBJECT_0 + 1) {
        op->Complete();
        if (manualReset_) Set();
        return WAIT_OBJECT_0;
    }
    const DWORD error = result == WAIT_TIMEOUT ? ERROR_SUCCESS : ::GetLastError();
    op->Cancel();
    if (result == WAIT_TIMEOUT) return WAIT_TIMEOUT;
    ::SetLastError(error);
    return WAIT_FAILED;
}

HANDLE CreateEvent(bool ManualReset, bool InitialState) {
    try {
        return new TEventObject(ManualReset, InitialState);
    } catch (const std::system_error& e) {
        ::SetLastError(static_cast<DWORD>(e.code().value()));
        return nullptr;
    }
}

bool SetEvent(HANDLE Event) {
    if (Event == nullptr) return ::SetLastError(ERROR_INVALID_HANDLE), false;
    return Event->Set();
}

bool ResetEvent(HANDLE Event) {
    if (Event == nullptr) return ::SetLastError(ERROR_INVALID_HANDLE), false;
    return Event->Reset();
}

uint32_t WaitForSingleObject(HANDLE Event, int32_t TimeoutMs) {
    if (Event == nullptr) return ::SetLastError(ERROR_INVALID_HANDLE), WAIT_FAILED;
    return Event->Wait(TimeoutMs);
}

bool CloseHandle(HANDLE Event) {
    if (Event == nullptr) return ::SetLastError(ERROR_INVALID_HANDLE), false;
    delete Event;
    return true;
}

}  // namespace Sync
