#include "platform/serial/SyncObjects.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/Clock.h"
#include "platform/serial/SysError.h"

namespace Sync {
namespace {

// Waits in ppoll until one of Fds is ready or DeadlineNs (monotonic, -1: none) has passed.
// Returns false with errno set when the wait itself failed.
bool PollUntil(std::vector<pollfd>& Fds, int64_t DeadlineNs) {
    timespec timeout{};
    timespec* limit = nullptr;
    if (DeadlineNs >= 0) {
        int64_t remaining = DeadlineNs - Clock::MonotonicNs();
        if (remaining < 0) remaining = 0;
        timeout.tv_sec = static_cast<time_t>(remaining / 1000000000LL);
        timeout.tv_nsec = static_cast<long>(remaining % 1000000000LL);
        limit = &timeout;
    }
    for (auto& fd : Fds)
        fd.revents = 0;
    if (ppoll(Fds.data(), Fds.size(), limit, nullptr) >= 0) return true;
    if (errno == EINTR) {
        for (auto& fd : Fds)
            fd.revents = 0;
        return true;
    }
    return false;
}

int64_t EarlierDeadline(int64_t A, int64_t B) {
    if (A < 0) return B;
    if (B < 0) return A;
    return A < B ? A : B;
}

}  // namespace

TEventObject::TEventObject(bool ManualReset, bool InitialState) : manualReset_(ManualReset) {
    fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    if (InitialState) Set();
}

TEventObject::~TEventObject() {
    op_.reset();
    if (fd_ >= 0) ::close(fd_);
}

bool TEventObject::Set() {
    std::lock_guard lock(mutex_);
    if (!signalled_) {
        uint64_t one = 1;
        if (::write(fd_, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) return Sys::FailFromErrno();
        signalled_ = true;
    }
    return true;
}

bool TEventObject::Reset() {
    std::lock_guard lock(mutex_);
    if (signalled_) {
        uint64_t value = 0;
        if (::read(fd_, &value, sizeof value) < 0 && errno != EAGAIN) return Sys::FailFromErrno();
        signalled_ = false;
    }
    return true;
}

bool TEventObject::IsSignalled() const {
    std::lock_guard lock(mutex_);
    return signalled_;
}

bool TEventObject::TryConsume() {
    std::lock_guard lock(mutex_);
    if (!signalled_) return false;
    uint64_t value = 0;
    if (::read(fd_, &value, sizeof value) < 0 && errno != EAGAIN) return false;
    signalled_ = false;
    return true;
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
    const int64_t deadline = TimeoutMs < 0 ? -1 : Clock::MonotonicNs() + int64_t{TimeoutMs} * 1000000LL;
    auto signalledNow = [this] { return manualReset_ ? IsSignalled() : TryConsume(); };
    std::vector<pollfd> fds;
    std::unique_ptr<TOverlappedOp> op = TakeOperation();

    if (!op) {
        for (;;) {
            if (signalledNow()) return WAIT_OBJECT_0;
            if (deadline >= 0 && Clock::MonotonicNs() >= deadline) return WAIT_TIMEOUT;
            fds.assign(1, pollfd{fd_, POLLIN, 0});
            if (!PollUntil(fds, deadline)) return Sys::FailFromErrno(), WAIT_FAILED;
        }
    }

    for (;;) {
        if (signalledNow()) {  // set by someone else: the operation is given up
            op->Cancel();
            return WAIT_OBJECT_0;
        }
        fds.assign(1, pollfd{fd_, POLLIN, 0});
        int64_t opDeadline = -1;
        bool done = op->Prepare(fds, opDeadline);
        if (!done) {
            bool polled = PollUntil(fds, EarlierDeadline(deadline, opDeadline));
            int pollError = errno;
            done = op->Advance(fds.data() + 1, Clock::MonotonicNs());
            if (!done && !polled) {
                op->Cancel();
                Sys::SetLastError(Sys::CodeFromErrno(pollError));
                return WAIT_FAILED;
            }
        }
        if (done) {
            op.reset();
            if (manualReset_) Set();
            return WAIT_OBJECT_0;
        }
        if (deadline >= 0 && Clock::MonotonicNs() >= deadline && !IsSignalled()) {
            op->Cancel();
            return WAIT_TIMEOUT;
        }
    }
}

HANDLE CreateEvent(bool ManualReset, bool InitialState) {
    try {
        return new TEventObject(ManualReset, InitialState);
    } catch (const std::system_error& e) {
        Sys::SetLastError(Sys::CodeFromErrno(e.code().value()));
        return nullptr;
    }
}

bool SetEvent(HANDLE Event) {
    if (Event == nullptr) return Sys::SetLastError(Sys::ERROR_INVALID_HANDLE), false;
    return Event->Set();
}

bool ResetEvent(HANDLE Event) {
    if (Event == nullptr) return Sys::SetLastError(Sys::ERROR_INVALID_HANDLE), false;
    return Event->Reset();
}

uint32_t WaitForSingleObject(HANDLE Event, int32_t TimeoutMs) {
    if (Event == nullptr) return Sys::SetLastError(Sys::ERROR_INVALID_HANDLE), WAIT_FAILED;
    return Event->Wait(TimeoutMs);
}

bool CloseHandle(HANDLE Event) {
    if (Event == nullptr) return Sys::SetLastError(Sys::ERROR_INVALID_HANDLE), false;
    delete Event;
    return true;
}

}  // namespace Sync
