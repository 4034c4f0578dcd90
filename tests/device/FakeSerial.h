#pragma once
// A serial layer for tests of the component's logic and error paths: records the calls, keeps
// the line settings written, fails any operation on request, and lets the test complete the
// watcher's wait with an event mask of its choice.

#ifndef _WIN32
#include <sys/eventfd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/serial/Serial.h"

class FakeSerial : public Serial::TSerialApi {
public:
    FakeSerial() {
#ifndef _WIN32
        fire_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
#endif
        device.DCBlength = 28;
        device.EofChar = 26;
        device.Flags = 0xFFFFFFFF;  // nothing of this may survive ApplySettings
        device.BaudRate = 1;
        Serial::SetSerialApi(this);
    }
    ~FakeSerial() override {
        Serial::SetSerialApi(nullptr);
#ifndef _WIN32
        ::close(fire_);
#endif
    }

    // ---- what the test sets ----
    void FailWith(const std::string& Operation, uint32_t Code) {
        std::lock_guard lock(mutex_);
        failures_[Operation] = Code;
    }
    void Heal(const std::string& Operation) {
        std::lock_guard lock(mutex_);
        failures_.erase(Operation);
    }
    // Completes the watcher's pending wait with Mask.
    void Fire(uint32_t Mask) {
        fireMask_.store(Mask);
#ifdef _WIN32
        fire_.Set();
#else
        uint64_t one = 1;
        if (::write(fire_, &one, sizeof one) < 0) {
        }
#endif
    }
    std::atomic<uint32_t> inQueue{0};     // cbInQue that ClearCommError reports
    std::atomic<uint32_t> lineErrors{0};  // error bits that ClearCommError reports
    std::atomic<bool> ioPending{false};   // ReadFile/WriteFile start and never complete
    std::atomic<bool> waitFailsAtOnce{false};
    std::atomic<bool> waitThrows{false};  // the watcher's wait raises an exception
    // The code of those failures; 5 (EIO, or on Windows access denied) is a hang-up.
    std::atomic<uint32_t> waitFailCode{kPlainFailure};
#ifdef _WIN32
    static constexpr uint32_t kPlainFailure = 87;  // invalid parameter
#else
    static constexpr uint32_t kPlainFailure = 22;  // EINVAL
#endif
    std::atomic<int> waitCalls{0};
    std::atomic<int> cancelledIo{0};

    // ---- what the test reads ----
    Serial::DCB device;  // the device's current settings
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int Count(const std::string& Operation) {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (auto& c : calls_)
            n += c == Operation;
        return n;
    }
    void ClearCalls() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }
    std::vector<Serial::DCB> written;
    std::string sent;
    uint32_t mask = 0;
    bool isOpen = false;

    // ---- the layer ----
    Serial::HANDLE CreateFile(const std::string& Name) override {
        if (!Call("CreateFile")) return Serial::INVALID_HANDLE_VALUE;
        lastName = Name;
        isOpen = true;
        return 42;
    }
    bool GetCommState(Serial::HANDLE, Serial::DCB& Dcb) override {
        if (!Call("GetCommState")) return false;
        Dcb = device;
        return true;
    }
    bool SetCommState(Serial::HANDLE, const Serial::DCB& Dcb) override {
        if (!Call("SetCommState")) return false;
        device = Dcb;
        written.push_back(Dcb);
        return true;
    }
    bool SetCommTimeouts(Serial::HANDLE, const Serial::COMMTIMEOUTS& T) override {
        timeouts = T;
        return Call("SetCommTimeouts");
    }
    bool SetupComm(Serial::HANDLE, int32_t In, int32_t Out) override {
        queues = {In, Out};
        return Call("SetupComm");
    }
    bool SetCommMask(Serial::HANDLE, uint32_t Mask) override {
        if (!Call("SetCommMask")) return false;
        mask = Mask;
        return true;
    }
    bool WaitCommEvent(Serial::HANDLE, uint32_t* Mask, Serial::OVERLAPPED* Overlapped) override {
        ++waitCalls;
        if (waitThrows) throw std::runtime_error("the wait broke");
        if (waitFailsAtOnce) return Sys::SetLastError(waitFailCode), false;
        if (!Call("WaitCommEvent", false)) return false;
        Overlapped->hEvent->Reset();
        Overlapped->Internal = Serial::STATUS_PENDING;
        Overlapped->hEvent->Attach(std::make_unique<FireOp>(this, Mask, Overlapped));
        Sys::SetLastError(Sys::ERROR_IO_PENDING);
        return false;
    }
    bool ClearCommError(Serial::HANDLE, uint32_t* Errors, Serial::COMSTAT* Stat) override {
        if (!Call("ClearCommError")) return false;
        *Errors = lineErrors;
        *Stat = Serial::COMSTAT{};
        Stat->cbInQue = inQueue;
        return true;
    }
    bool PurgeComm(Serial::HANDLE, uint32_t Flags) override {
        purgeFlags = Flags;
        return Call("PurgeComm");
    }
    bool ReadFile(Serial::HANDLE H, void* Buffer, uint32_t Count, uint32_t* Read,
                  Serial::OVERLAPPED* Overlapped) override {
        if (H != 42) return Sys::SetLastError(Sys::ERROR_INVALID_HANDLE), false;
        if (!Call("ReadFile")) return false;
        if (ioPending) return Pend(Overlapped);
        uint32_t n = std::min(Count, inQueue.load());
        std::fill_n(static_cast<char*>(Buffer), n, 'r');
        inQueue -= n;
        *Read = n;
        Serial::CompleteAtOnce(Overlapped, 0, n);
        return true;
    }
    bool WriteFile(Serial::HANDLE H, const void* Buffer, uint32_t Count, uint32_t* Written,
                   Serial::OVERLAPPED* Overlapped) override {
        if (H != 42) return Sys::SetLastError(Sys::ERROR_INVALID_HANDLE), false;
        if (!Call("WriteFile")) return false;
        if (ioPending) return Pend(Overlapped);
        sent.append(static_cast<const char*>(Buffer), Count);
        *Written = Count;
        Serial::CompleteAtOnce(Overlapped, 0, Count);
        return true;
    }
    bool GetOverlappedResult(Serial::HANDLE, Serial::OVERLAPPED* Overlapped, uint32_t* Transferred,
                             bool) override {
        if (Overlapped->Internal == Serial::STATUS_PENDING) return Sys::SetLastError(996), false;
        *Transferred = Overlapped->InternalHigh;
        return Overlapped->Internal == 0;
    }
    bool CloseHandle(Serial::HANDLE) override {
        isOpen = false;
        return Call("CloseHandle", false);
    }

    std::string lastName;
    Serial::COMMTIMEOUTS timeouts;
    std::pair<int32_t, int32_t> queues;
    uint32_t purgeFlags = 0;

private:
#ifdef _WIN32
    // The watcher's wait: completes when the test fires.
    class FireOp : public Sync::TOverlappedOp {
    public:
        FireOp(FakeSerial* Fake, uint32_t* Mask, Serial::OVERLAPPED* Ov)
            : fake_(Fake), mask_(Mask), ov_(Ov) {}
        void* CompletionEvent() const override { return fake_->fire_.Native(); }
        void Complete() override {
            *mask_ = fake_->fireMask_.load();
            ov_->Internal = 0;
        }
        void Cancel() override { ov_->Internal = Sys::ERROR_OPERATION_ABORTED; }

    private:
        FakeSerial* fake_;
        uint32_t* mask_;
        Serial::OVERLAPPED* ov_;
    };
    // A read or write that never completes by itself.
    class StuckOp : public Sync::TOverlappedOp {
    public:
        StuckOp(FakeSerial* Fake, Serial::OVERLAPPED* Ov) : fake_(Fake), ov_(Ov) {}
        void* CompletionEvent() const override { return fake_->never_.Native(); }
        void Complete() override {}
        void Cancel() override {
            ov_->Internal = Sys::ERROR_OPERATION_ABORTED;
            ++fake_->cancelledIo;
        }

    private:
        FakeSerial* fake_;
        Serial::OVERLAPPED* ov_;
    };
#else
    // The watcher's wait: completes when the test fires.
    class FireOp : public Sync::TOverlappedOp {
    public:
        FireOp(FakeSerial* Fake, uint32_t* Mask, Serial::OVERLAPPED* Ov)
            : fake_(Fake), mask_(Mask), ov_(Ov) {}
        bool Prepare(std::vector<pollfd>& Fds, int64_t&) override {
            Fds.push_back(pollfd{fake_->fire_, POLLIN, 0});
            return false;
        }
        bool Advance(const pollfd* Fds, int64_t) override {
            uint64_t value = 0;
            if ((Fds[0].revents & POLLIN) == 0 || ::read(fake_->fire_, &value, sizeof value) <= 0)
                return false;
            *mask_ = fake_->fireMask_.load();
            ov_->Internal = 0;
            return true;
        }
        void Cancel() override { ov_->Internal = Sys::ERROR_OPERATION_ABORTED; }

    private:
        FakeSerial* fake_;
        uint32_t* mask_;
        Serial::OVERLAPPED* ov_;
    };
    // A read or write that never completes by itself.
    class StuckOp : public Sync::TOverlappedOp {
    public:
        StuckOp(FakeSerial* Fake, Serial::OVERLAPPED* Ov) : fake_(Fake), ov_(Ov) {}
        bool Prepare(std::vector<pollfd>&, int64_t&) override { return false; }
        bool Advance(const pollfd*, int64_t) override { return false; }
        void Cancel() override {
            ov_->Internal = Sys::ERROR_OPERATION_ABORTED;
            ++fake_->cancelledIo;
        }

    private:
        FakeSerial* fake_;
        Serial::OVERLAPPED* ov_;
    };
#endif

    bool Pend(Serial::OVERLAPPED* Overlapped) {
        Overlapped->hEvent->Reset();
        Overlapped->Internal = Serial::STATUS_PENDING;
        Overlapped->hEvent->Attach(std::make_unique<StuckOp>(this, Overlapped));
        Sys::SetLastError(Sys::ERROR_IO_PENDING);
        return false;
    }

    // Records the call; false with the injected error when the operation is to fail.
    bool Call(const std::string& Operation, bool Record = true) {
        std::lock_guard lock(mutex_);
        if (Record) calls_.push_back(Operation);
        auto failure = failures_.find(Operation);
        if (failure == failures_.end()) return true;
        Sys::SetLastError(failure->second);
        return false;
    }

    std::mutex mutex_;
    std::map<std::string, uint32_t> failures_;
    std::vector<std::string> calls_;
#ifdef _WIN32
    Sync::TEventObject fire_{false, false};  // set by Fire, taken by the wait it completes
    Sync::TEventObject never_{true, false};
#else
    int fire_ = -1;
#endif
    std::atomic<uint32_t> fireMask_{0};
};
