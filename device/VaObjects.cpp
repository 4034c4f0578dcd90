#include "device/VaObjects.h"

#include <system_error>

#include "platform/serial/SysError.h"

TVaHandleObject::~TVaHandleObject() {
    if (handle_ != nullptr) Sync::CloseHandle(handle_);
}

TWaitResult TVaHandleObject::WaitFor(int32_t Timeout) {
    switch (Sync::WaitForSingleObject(handle_, Timeout)) {
        case Sync::WAIT_OBJECT_0:
            return wrSignaled;
        case Sync::WAIT_TIMEOUT:
            return wrTimeout;
        case Sync::WAIT_ABANDONED:
            return wrAbandoned;
        default:
            lastError_ = Sys::GetLastError();
            return wrError;
    }
}

void TVaEvent::SetEvent() {
    Sync::SetEvent(handle_);
}

void TVaEvent::ResetEvent() {
    Sync::ResetEvent(handle_);
}

TVaSimpleEvent::TVaSimpleEvent() {
    handle_ = Sync::CreateEvent(true, false);
    if (handle_ == nullptr) {
        throw std::system_error(static_cast<int>(Sys::GetLastError()), std::generic_category(),
                                "Cannot create an event");
    }
}
