#include "platform/serial/SerialWin32.h"

#include <cstddef>
#include <cstring>
#include <memory>

// Our names that the system's headers turn into macros, taken before those headers come in.
namespace {
constexpr Serial::HANDLE kNoDevice = Serial::INVALID_HANDLE_VALUE;
constexpr uint32_t kPending = Serial::STATUS_PENDING;
constexpr uint32_t kRxChar = Serial::EV_RXCHAR;
constexpr uint32_t kLineError = Serial::EV_ERR;
constexpr uint32_t kPurgeRxClear = Serial::PURGE_RXCLEAR;
constexpr uint32_t kDtrHandshake = Serial::DTR_CONTROL_HANDSHAKE;
constexpr uint32_t kNoLimit = Serial::MAXDWORD;
}  // namespace

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef CreateFile

// Our records go to the system as they are.
static_assert(sizeof(Serial::DCB) == sizeof(::DCB));
static_assert(offsetof(Serial::DCB, Flags) == 8 && offsetof(Serial::DCB, XonLim) == offsetof(::DCB, XonLim));
static_assert(offsetof(Serial::DCB, EvtChar) == offsetof(::DCB, EvtChar));
static_assert(sizeof(Serial::COMSTAT) == sizeof(::COMSTAT));
static_assert(offsetof(Serial::COMSTAT, cbInQue) == offsetof(::COMSTAT, cbInQue));
static_assert(sizeof(Serial::COMMTIMEOUTS) == sizeof(::COMMTIMEOUTS));
static_assert(kRxChar == EV_RXCHAR && kLineError == EV_ERR && kPurgeRxClear == PURGE_RXCLEAR);
static_assert(kDtrHandshake == DTR_CONTROL_HANDSHAKE << 4 && kNoLimit == MAXDWORD);
static_assert(kPending == STATUS_PENDING);

namespace Serial {
namespace {

::HANDLE Native(HANDLE Device) {
    return reinterpret_cast<::HANDLE>(Device);
}

std::wstring Wide(const std::string& Text) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), length);
    return wide;
}

// One started operation with its own system record and event; see SerialWin32.h.
class TSystemOp final : public Sync::TOverlappedOp {
public:
    TSystemOp(::HANDLE Device, OVERLAPPED* Record, uint32_t* Mask)
        : device_(Device), record_(Record), mask_(Mask) {
        overlapped_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~TSystemOp() override {
        if (started_ && !finished_) Release();
        if (overlapped_.hEvent != nullptr) ::CloseHandle(overlapped_.hEvent);
    }
    TSystemOp(const TSystemOp&) = delete;
    TSystemOp& operator=(const TSystemOp&) = delete;

    bool Valid() const { return overlapped_.hEvent != nullptr; }
    ::OVERLAPPED* Record() { return &overlapped_; }
    DWORD* OwnMask() { return &mask; }
    void Started() { started_ = true; }

    void* CompletionEvent() const override { return overlapped_.hEvent; }

    void Complete() override {
        DWORD transferred = 0;
        const bool ok = ::GetOverlappedResult(device_, &overlapped_, &transferred, FALSE) != FALSE;
        const DWORD code = ok ? ERROR_SUCCESS : ::GetLastError();
        finished_ = true;
        if (!ok && code == ERROR_OPERATION_ABORTED && mask_ != nullptr && BytesWaitingForRxChar()) {
            Store(ERROR_SUCCESS, 0, kRxChar);
            return;
        }
        Store(code, transferred, mask);
    }

    void Cancel() override {
        Release();
        finished_ = true;
    }

    // The results of an operation that completed at once.
    void StoreAtOnce(DWORD Transferred) {
        finished_ = true;
        if (mask_ != nullptr) *mask_ = mask;
        CompleteAtOnce(record_, 0, Transferred);
    }

    DWORD mask = 0;  // where the system puts the events of a line-event wait

private:
    // Cancels the operation if it still runs and waits until the system is done with it; the results
    // go to the caller's record (a wait cancelled this way that had completed keeps its results).
    void Release() {
        if (!HasOverlappedIoCompleted(&overlapped_)) ::CancelIoEx(device_, &overlapped_);
        DWORD transferred = 0;
        const bool ok = ::GetOverlappedResult(device_, &overlapped_, &transferred, TRUE) != FALSE;
        if (!finished_) Store(ok ? ERROR_SUCCESS : ::GetLastError(), transferred, mask);
    }

    bool BytesWaitingForRxChar() const {
        DWORD monitored = 0, errors = 0;
        ::COMSTAT stat{};
        return ::GetCommMask(device_, &monitored) && (monitored & EV_RXCHAR) != 0 &&
               ::ClearCommError(device_, &errors, &stat) && stat.cbInQue > 0;
    }

    void Store(DWORD Code, DWORD Transferred, DWORD Mask) {
        if (mask_ != nullptr) *mask_ = Code == ERROR_SUCCESS ? Mask : 0;
        record_->InternalHigh = Transferred;
        record_->Internal = Code;
    }

    ::HANDLE device_;
    ::OVERLAPPED overlapped_{};
    OVERLAPPED* record_;
    uint32_t* mask_;
    bool started_ = false;
    bool finished_ = false;
};

// Starts an operation with Start (true: completed at once). One that is started is attached to the
// caller's event (or, without one, waited for here).
template <class StartFn>
bool Begin(HANDLE Device, OVERLAPPED* Record, uint32_t* Mask, uint32_t* Transferred, StartFn Start) {
    OVERLAPPED local{};
    OVERLAPPED* record = Record != nullptr ? Record : &local;
    auto op = std::make_unique<TSystemOp>(Native(Device), record, Mask);
    if (!op->Valid()) return false;
    if (record->hEvent != nullptr) record->hEvent->Reset();
    if (Start(*op)) {
        DWORD transferred = 0;
        ::GetOverlappedResult(Native(Device), op->Record(), &transferred, FALSE);
        if (Transferred != nullptr) *Transferred = transferred;
        op->StoreAtOnce(transferred);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
        ::SetLastError(error);
        return false;
    }
    op->Started();
    record->Internal = kPending;
    record->InternalHigh = 0;
    if (Record == nullptr || Record->hEvent == nullptr) {
        op->Complete();
        if (Transferred != nullptr) *Transferred = record->InternalHigh;
        if (record->Internal != ERROR_SUCCESS) return ::SetLastError(record->Internal), false;
        return true;
    }
    Record->hEvent->Attach(std::move(op));
    ::SetLastError(ERROR_IO_PENDING);
    return false;
}

}  // namespace

HANDLE TWin32Serial::CreateFile(const std::string& DeviceName) {
    const std::string path = DevicePath(DeviceName);
    if (path.empty()) return ::SetLastError(ERROR_FILE_NOT_FOUND), kNoDevice;
    const ::HANDLE device = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return reinterpret_cast<HANDLE>(device);  // the system's invalid handle is our kNoDevice
}

bool TWin32Serial::GetCommState(HANDLE Device, DCB& Dcb) {
    ::DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(Native(Device), &dcb)) return false;
    std::memcpy(static_cast<void*>(&Dcb), &dcb, sizeof dcb);
    return true;
}

bool TWin32Serial::SetCommState(HANDLE Device, const DCB& Dcb) {
    ::DCB dcb{};
    std::memcpy(&dcb, &Dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    return ::SetCommState(Native(Device), &dcb) != FALSE;
}

bool TWin32Serial::SetCommTimeouts(HANDLE Device, const COMMTIMEOUTS& Timeouts) {
    ::COMMTIMEOUTS timeouts{Timeouts.ReadIntervalTimeout, Timeouts.ReadTotalTimeoutMultiplier,
                            Timeouts.ReadTotalTimeoutConstant, Timeouts.WriteTotalTimeoutMultiplier,
                            Timeouts.WriteTotalTimeoutConstant};
    return ::SetCommTimeouts(Native(Device), &timeouts) != FALSE;
}

bool TWin32Serial::SetupComm(HANDLE Device, int32_t InQueue, int32_t OutQueue) {
    return ::SetupComm(Native(Device), static_cast<DWORD>(InQueue), static_cast<DWORD>(OutQueue)) != FALSE;
}

bool TWin32Serial::SetCommMask(HANDLE Device, uint32_t Mask) {
    return ::SetCommMask(Native(Device), Mask) != FALSE;
}

bool TWin32Serial::WaitCommEvent(HANDLE Device, uint32_t* Mask, OVERLAPPED* Overlapped) {
    if (Mask == nullptr) return ::SetLastError(ERROR_INVALID_PARAMETER), false;
    *Mask = 0;
    return Begin(Device, Overlapped, Mask, nullptr, [Device](TSystemOp& Op) {
        return ::WaitCommEvent(Native(Device), Op.OwnMask(), Op.Record()) != FALSE;
    });
}

bool TWin32Serial::ClearCommError(HANDLE Device, uint32_t* Errors, COMSTAT* Stat) {
    DWORD errors = 0;
    ::COMSTAT stat{};
    if (!::ClearCommError(Native(Device), &errors, &stat)) return false;
    if (Errors != nullptr) *Errors = errors;
    if (Stat != nullptr) std::memcpy(static_cast<void*>(Stat), &stat, sizeof stat);
    return true;
}

bool TWin32Serial::PurgeComm(HANDLE Device, uint32_t Flags) {
    return ::PurgeComm(Native(Device), Flags) != FALSE;
}

bool TWin32Serial::ReadFile(HANDLE Device, void* Buffer, uint32_t Count, uint32_t* Read,
                            OVERLAPPED* Overlapped) {
    if (Read != nullptr) *Read = 0;
    return Begin(Device, Overlapped, nullptr, Read, [Device, Buffer, Count](TSystemOp& Op) {
        return ::ReadFile(Native(Device), Buffer, Count, nullptr, Op.Record()) != FALSE;
    });
}

bool TWin32Serial::WriteFile(HANDLE Device, const void* Buffer, uint32_t Count, uint32_t* Written,
                             OVERLAPPED* Overlapped) {
    if (Written != nullptr) *Written = 0;
    return Begin(Device, Overlapped, nullptr, Written, [Device, Buffer, Count](TSystemOp& Op) {
        return ::WriteFile(Native(Device), Buffer, Count, nullptr, Op.Record()) != FALSE;
    });
}

bool TWin32Serial::GetOverlappedResult(HANDLE, OVERLAPPED* Overlapped, uint32_t* Transferred, bool Wait) {
    if (Overlapped == nullptr) return ::SetLastError(ERROR_INVALID_PARAMETER), false;
    if (Overlapped->Internal == kPending && Wait && Overlapped->hEvent != nullptr)
        Sync::WaitForSingleObject(Overlapped->hEvent, -1);
    if (Overlapped->Internal == kPending) return ::SetLastError(ERROR_IO_INCOMPLETE), false;
    if (Transferred != nullptr) *Transferred = Overlapped->InternalHigh;
    if (Overlapped->Internal != ERROR_SUCCESS) return ::SetLastError(Overlapped->Internal), false;
    return true;
}

bool TWin32Serial::CloseHandle(HANDLE Device) {
    return ::CloseHandle(Native(Device)) != FALSE;
}

}  // namespace Serial
