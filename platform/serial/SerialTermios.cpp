#include "platform/serial/SerialTermios.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <set>
#include <vector>

#include "platform/Clock.h"
#include "platform/serial/PortMap.h"
#include "platform/serial/SerialBaud.h"

namespace Serial {

namespace {

constexpr uint32_t ERROR_INVALID_HANDLE = Sys::ERROR_INVALID_HANDLE;
constexpr uint32_t ERROR_OPERATION_ABORTED = Sys::ERROR_OPERATION_ABORTED;

bool Fail(uint32_t Code) {
    Sys::SetLastError(Code);
    return false;
}

struct SpeedEntry {
    uint32_t rate;
    speed_t code;
};
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {2000000, B2000000},
};

bool SpeedCode(uint32_t Rate, speed_t& Code) {
    for (const auto& entry : kSpeeds) {
        if (entry.rate == Rate) {
            Code = entry.code;
            return true;
        }
    }
    return false;
}

uint32_t SpeedRate(speed_t Code) {
    for (const auto& entry : kSpeeds) {
        if (entry.code == Code) return entry.rate;
    }
    return 0;
}

// Sets or clears modem-control lines; devices without them (pseudo-terminals) are left alone.
void SetModemLine(int Fd, int Line, bool On) {
    ioctl(Fd, On ? TIOCMBIS : TIOCMBIC, &Line);
}

}  // namespace

// One open device. Every field is guarded by mutex.
struct TTermiosSerial::Device {
    class Op;

    int fd = -1;
    int txEpoll = -1;  // edge-triggered "writable" notifications, for EV_TXEMPTY
    std::mutex mutex;
    std::condition_variable idle;  // signalled when pollers drops to 0
    int pollers = 0;               // started operations sleeping in poll() on fd
    bool closed = false;
    std::deque<char> input;
    size_t inputLimit = 4096;
    uint32_t mask = 0;
    uint64_t maskGeneration = 0;
    uint64_t rxAbort = 0, txAbort = 0;
    uint32_t events = 0;  // line events not reported yet
    uint32_t errors = 0;  // CE_ bits since the last ClearCommError
    bool txPending = false;
    bool haveCounters = false;
    bool clearExclusive = true;  // the exclusive flag was set by us and is cleared at close
    serial_icounter_struct counters{};
    COMMTIMEOUTS timeouts{};
    DCB dcb{};
    std::set<Op*> ops;  // started operations, woken through their own eventfd

    ~Device() {
        if (txEpoll >= 0) ::close(txEpoll);
        if (fd >= 0) ::close(fd);
    }

    void PokeAll();
    int Drain();
    void UpdateCounters();
    void CheckTxEmpty();
    int64_t Deadline(uint32_t Multiplier, uint32_t Constant, uint32_t Count) const;
};

// Base of the started operations: registered with the device for wake-ups while alive.
class TTermiosSerial::Device::Op : public Sync::TOverlappedOp {
public:
    Op(std::shared_ptr<Device> Dev, OVERLAPPED* Overlapped) : dev_(std::move(Dev)), ov_(Overlapped) {
        poke_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        std::lock_guard lock(dev_->mutex);
        dev_->ops.insert(this);
    }
    ~Op() override {
        {
            std::lock_guard lock(dev_->mutex);
            dev_->ops.erase(this);
        }
        if (poke_ >= 0) ::close(poke_);
    }
    void Poke() {
        uint64_t one = 1;
        if (poke_ >= 0 && ::write(poke_, &one, sizeof one) < 0) {
            // The counter cannot overflow with single increments; nothing to do.
        }
    }

    bool Prepare(std::vector<pollfd>& Fds, int64_t& DeadlineNs) final {
        std::lock_guard lock(dev_->mutex);
        if (Evaluate(Clock::MonotonicNs())) return true;
        ++dev_->pollers;
        Fds.push_back(pollfd{dev_->fd, Events(), 0});
        Fds.push_back(pollfd{poke_, POLLIN, 0});
        polledTx_ = WantsTxEpoll();
        if (polledTx_) Fds.push_back(pollfd{dev_->txEpoll, POLLIN, 0});
        DeadlineNs = deadline_;
        return false;
    }

    bool Advance(const pollfd* Fds, int64_t NowNs) final {
        std::lock_guard lock(dev_->mutex);
        if (--dev_->pollers == 0) dev_->idle.notify_all();
        uint64_t value = 0;
        if (Fds[1].revents != 0 && ::read(poke_, &value, sizeof value) < 0) {
            // Already drained by an earlier wake-up.
        }
        if (dev_->closed) return Evaluate(NowNs);
        if (polledTx_ && (Fds[2].revents & POLLIN) != 0) {
            epoll_event ev[4];
            while (epoll_wait(dev_->txEpoll, ev, 4, 0) > 0) {
            }
            dev_->CheckTxEmpty();
        }
        return Progress(Fds[0].revents, NowNs);
    }

    // Completion by ReadFile/WriteFile/WaitCommEvent before anything was started.
    bool RunOnce() {
        std::vector<pollfd> fds;
        int64_t deadline = -1;
        if (Prepare(fds, deadline)) return true;
        if (poll(fds.data(), fds.size(), 0) < 0) {
            for (auto& fd : fds)
                fd.revents = 0;
        }
        return Advance(fds.data(), Clock::MonotonicNs());
    }

protected:
    virtual short Events() const = 0;
    virtual bool WantsTxEpoll() const { return false; }
    // Under the device lock: completes the operation (true) from the device's state.
    virtual bool Evaluate(int64_t NowNs) = 0;
    // Under the device lock, after a wait: does the I/O that the descriptor allows, then Evaluate.
    virtual bool Progress(short Revents, int64_t NowNs) = 0;

    void Finish(uint32_t Code, uint32_t Transferred) {
        ov_->Internal = Code;
        ov_->InternalHigh = Transferred;
    }

    std::shared_ptr<Device> dev_;
    OVERLAPPED* ov_;
    int poke_ = -1;
    int64_t deadline_ = -1;
    bool polledTx_ = false;
};

void TTermiosSerial::Device::PokeAll() {
    for (Op* op : ops)
        op->Poke();
}

// Moves what the kernel holds into the input queue. Returns 0, or the errno of the read that failed:
// what runs after that read (the counters' ioctl) must not decide the error that is reported.
int TTermiosSerial::Device::Drain() {
    char buffer[4096];
    bool arrived = false;
    int failure = 0;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) failure = errno;
            break;
        }
        if (n == 0) break;
        arrived = true;
        size_t room = inputLimit > input.size() ? inputLimit - input.size() : 0;
        size_t kept = std::min(room, static_cast<size_t>(n));
        input.insert(input.end(), buffer, buffer + kept);
        if (kept < static_cast<size_t>(n)) {
            errors |= CE_RXOVER;
            events |= EV_ERR;
        }
        if (std::memchr(buffer, dcb.EvtChar, static_cast<size_t>(n)) != nullptr) events |= EV_RXFLAG;
        if (static_cast<size_t>(n) < sizeof buffer) break;
    }
    if (arrived) {
        events |= EV_RXCHAR;
        UpdateCounters();
        PokeAll();
    }
    return failure;
}

void TTermiosSerial::Device::UpdateCounters() {
    serial_icounter_struct now{};
    if (ioctl(fd, TIOCGICOUNT, &now) != 0) return;
    if (haveCounters) {
        uint32_t found = 0;
        if (now.overrun != counters.overrun) found |= CE_OVERRUN;
        if (now.buf_overrun != counters.buf_overrun) found |= CE_RXOVER;
        if (now.parity != counters.parity) found |= CE_RXPARITY;
        if (now.frame != counters.frame) found |= CE_FRAME;
        if (now.brk != counters.brk) {
            found |= CE_BREAK;
            events |= EV_BREAK;
        }
        if ((found & ~CE_BREAK) != 0) events |= EV_ERR;
        errors |= found;
    }
    counters = now;
    haveCounters = true;
}

void TTermiosSerial::Device::CheckTxEmpty() {
    if (!txPending) return;
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued == 0) {
        txPending = false;
        events |= EV_TXEMPTY;
        if ((mask & EV_TXEMPTY) != 0) PokeAll();
    }
}

int64_t TTermiosSerial::Device::Deadline(uint32_t Multiplier, uint32_t Constant, uint32_t Count) const {
    uint64_t total = uint64_t{Multiplier} * Count + Constant;
    if (total == 0) return -1;
    return Clock::MonotonicNs() + static_cast<int64_t>(total) * 1000000LL;
}

namespace {

using Device = TTermiosSerial::Device;

// WaitCommEvent: completes when a monitored event has occurred, with mask 0 when the mask is
// changed, and fails when the device is closed or fails (hang-up, adapter gone).
class CommWaitOp final : public Device::Op {
public:
    CommWaitOp(std::shared_ptr<Device> Dev, OVERLAPPED* Overlapped, uint32_t* Mask)
        : Op(std::move(Dev), Overlapped), mask_(Mask) {
        std::lock_guard lock(dev_->mutex);
        generation_ = dev_->maskGeneration;
    }
    void Cancel() override { ov_->Internal = ERROR_OPERATION_ABORTED; }

protected:
    short Events() const override { return POLLIN; }
    bool WantsTxEpoll() const override {
        return (dev_->mask & EV_TXEMPTY) != 0 && dev_->txPending && dev_->txEpoll >= 0;
    }
    bool Evaluate(int64_t) override {
        if (dev_->closed) return Failed(ERROR_OPERATION_ABORTED);
        if (generation_ != dev_->maskGeneration) return Report(0);
        uint32_t ready = dev_->events & dev_->mask;
        if (ready == 0) return false;
        dev_->events &= ~ready;
        return Report(ready);
    }
    bool Progress(short Revents, int64_t NowNs) override {
        if ((Revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            if (const int failure = dev_->Drain()) return Failed(Sys::CodeFromErrno(failure));
        }
        if (Evaluate(NowNs)) return true;
        if ((Revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Failed(Sys::CodeFromErrno(EIO));
        return false;
    }

private:
    bool Report(uint32_t Events) {
        *mask_ = Events;
        Finish(0, 0);
        return true;
    }
    bool Failed(uint32_t Code) {
        *mask_ = 0;
        Finish(Code, 0);
        return true;
    }
    uint32_t* mask_;
    uint64_t generation_ = 0;
};

// ReadFile that waits for more bytes (only with time-outs other than "return at once").
class ReadOp final : public Device::Op {
public:
    ReadOp(std::shared_ptr<Device> Dev, OVERLAPPED* Overlapped, char* Buffer, uint32_t Count, uint32_t Done)
        : Op(std::move(Dev), Overlapped), buffer_(Buffer), count_(Count), done_(Done) {
        std::lock_guard lock(dev_->mutex);
        abort_ = dev_->rxAbort;
        const auto& t = dev_->timeouts;
        deadline_ = dev_->Deadline(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, Count);
    }
    // The bytes taken so far go back to the front of the queue, so nothing is lost.
    void Cancel() override {
        std::lock_guard lock(dev_->mutex);
        dev_->input.insert(dev_->input.begin(), buffer_, buffer_ + done_);
        Finish(ERROR_OPERATION_ABORTED, 0);
    }

protected:
    short Events() const override { return POLLIN; }
    bool Evaluate(int64_t NowNs) override {
        if (dev_->closed || abort_ != dev_->rxAbort) return Finish(ERROR_OPERATION_ABORTED, done_), true;
        Take();
        if (done_ == count_ || (deadline_ >= 0 && NowNs >= deadline_)) return Finish(0, done_), true;
        return false;
    }
    bool Progress(short Revents, int64_t NowNs) override {
        if ((Revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const int failure = dev_->Drain();
            if (failure != 0 && dev_->input.empty()) {
                Finish(Sys::CodeFromErrno(failure), done_);
                return true;
            }
        }
        return Evaluate(NowNs);
    }

private:
    void Take() {
        while (done_ < count_ && !dev_->input.empty()) {
            buffer_[done_++] = dev_->input.front();
            dev_->input.pop_front();
        }
    }
    char* buffer_;
    uint32_t count_;
    uint32_t done_;
    uint64_t abort_ = 0;
};

// WriteFile whose bytes did not all fit into the kernel at once.
class WriteOp final : public Device::Op {
public:
    WriteOp(std::shared_ptr<Device> Dev, OVERLAPPED* Overlapped, const char* Buffer, uint32_t Count,
            uint32_t Done)
        : Op(std::move(Dev), Overlapped), buffer_(Buffer), count_(Count), done_(Done) {
        std::lock_guard lock(dev_->mutex);
        abort_ = dev_->txAbort;
        const auto& t = dev_->timeouts;
        deadline_ = dev_->Deadline(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, Count);
    }
    // What went out stays out; the record tells how much.
    void Cancel() override { Finish(ERROR_OPERATION_ABORTED, done_); }

protected:
    short Events() const override { return POLLOUT; }
    bool Evaluate(int64_t NowNs) override {
        if (dev_->closed || abort_ != dev_->txAbort) return Finish(ERROR_OPERATION_ABORTED, done_), true;
        if (done_ == count_ || (deadline_ >= 0 && NowNs >= deadline_)) return Finish(0, done_), true;
        return false;
    }
    bool Progress(short Revents, int64_t NowNs) override {
        if ((Revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            while (done_ < count_) {
                ssize_t n = ::write(dev_->fd, buffer_ + done_, count_ - done_);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    if (errno == EAGAIN) break;
                    Finish(Sys::CodeFromErrno(errno), done_);
                    return true;
                }
                done_ += static_cast<uint32_t>(n);
                dev_->txPending = true;
            }
            dev_->CheckTxEmpty();
        }
        return Evaluate(NowNs);
    }

private:
    const char* buffer_;
    uint32_t count_;
    uint32_t done_;
    uint64_t abort_ = 0;
};

// Starts Op: completes it at once when it can, otherwise attaches it to the record's event.
bool Start(std::unique_ptr<Device::Op> Op, OVERLAPPED* Overlapped, uint32_t* Transferred) {
    if (Op->RunOnce()) {
        if (Transferred != nullptr) *Transferred = Overlapped->InternalHigh;
        if (Overlapped->hEvent != nullptr) Overlapped->hEvent->Set();
        return Overlapped->Internal == 0 ? true : Fail(Overlapped->Internal);
    }
    Overlapped->Internal = STATUS_PENDING;
    Overlapped->InternalHigh = 0;
    if (Overlapped->hEvent == nullptr) return Fail(EINVAL);
    Overlapped->hEvent->Attach(std::move(Op));
    return Fail(Sys::ERROR_IO_PENDING);
}

void DcbFromTermios(int Fd, const termios& T, DCB& Dcb) {
    Dcb = DCB{};
    uint32_t rate = SpeedRate(cfgetospeed(&T));
    Dcb.BaudRate = rate != 0 ? rate : ReadBaudRate(Fd);
    switch (T.c_cflag & CSIZE) {
        case CS5:
            Dcb.ByteSize = 5;
            break;
        case CS6:
            Dcb.ByteSize = 6;
            break;
        case CS7:
            Dcb.ByteSize = 7;
            break;
        default:
            Dcb.ByteSize = 8;
            break;
    }
    if ((T.c_cflag & PARENB) == 0) {
        Dcb.Parity = NOPARITY;
    } else if ((T.c_cflag & CMSPAR) != 0) {
        Dcb.Parity = (T.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    } else {
        Dcb.Parity = (T.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
    }
    Dcb.StopBits = (T.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
    Dcb.XonChar = static_cast<char>(T.c_cc[VSTART]);
    Dcb.XoffChar = static_cast<char>(T.c_cc[VSTOP]);
    Dcb.Flags = fBinary;
    if ((T.c_iflag & INPCK) != 0) Dcb.Flags |= fParity;
    if ((T.c_iflag & IXON) != 0) Dcb.Flags |= fOutX;
    if ((T.c_iflag & IXOFF) != 0) Dcb.Flags |= fInX;
    int lines = 0;
    bool haveLines = ioctl(Fd, TIOCMGET, &lines) == 0;
    if ((T.c_cflag & CRTSCTS) != 0) {
        Dcb.Flags |= fOutxCtsFlow | RTS_CONTROL_HANDSHAKE;
    } else if (!haveLines || (lines & TIOCM_RTS) != 0) {
        Dcb.Flags |= RTS_CONTROL_ENABLE;
    }
    if (!haveLines || (lines & TIOCM_DTR) != 0) Dcb.Flags |= DTR_CONTROL_ENABLE;
}

}  // namespace

TTermiosSerial::TTermiosSerial() = default;

TTermiosSerial::~TTermiosSerial() {
    std::vector<HANDLE> open;
    {
        std::lock_guard lock(mutex_);
        for (auto& entry : devices_)
            open.push_back(entry.first);
    }
    for (HANDLE handle : open)
        CloseHandle(handle);
}

std::shared_ptr<TTermiosSerial::Device> TTermiosSerial::Find(HANDLE Handle) {
    std::lock_guard lock(mutex_);
    auto entry = devices_.find(Handle);
    if (entry == devices_.end()) return nullptr;
    return entry->second;
}

HANDLE TTermiosSerial::CreateFile(const std::string& DeviceName) {
    std::string path = DevicePath(DeviceName);
    if (path.empty()) return Fail(Sys::ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    // A device that another program holds is not opened at all, not even for a moment: root would get
    // past the exclusive flag and share the line (and a reconnect would try once a second).
    if (HeldElsewhere(path)) return Fail(Sys::CodeFromErrno(EBUSY)), INVALID_HANDLE_VALUE;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        bool missing = error == ENOENT || error == ENODEV || error == ENXIO;
        return Fail(missing ? Sys::ERROR_FILE_NOT_FOUND : Sys::CodeFromErrno(error)), INVALID_HANDLE_VALUE;
    }
    auto fail = [fd](int Error) {
        ::close(fd);
        Fail(Sys::CodeFromErrno(Error));
        return INVALID_HANDLE_VALUE;
    };
    if (!isatty(fd)) return fail(ENOTTY);
    // The advisory lock first: it holds against root and against a second open in this program, and
    // a device that someone else holds is left exactly as it was.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    // The kernel raises DTR and RTS when a terminal with a speed is opened; a keyer may take that as a
    // key-down or a reset. Drop both at once, before anything else, so that the pulse lasts only as
    // long as the open takes; the line settings then set them as configured.
    SetModemLine(fd, TIOCM_DTR | TIOCM_RTS, false);
    // The exclusive flag keeps other users out. It belongs to the terminal, not to our descriptor, so
    // it is cleared again on every way out, unless someone else had set it before us.
    int wasExclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &wasExclusive) != 0) wasExclusive = 0;
    ioctl(fd, TIOCEXCL);
    auto failExclusive = [&](int Error) {
        if (wasExclusive == 0) ioctl(fd, TIOCNXCL);
        return fail(Error);
    };
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return failExclusive(errno);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) return failExclusive(errno);

    auto device = std::make_shared<Device>();
    device->fd = fd;
    device->clearExclusive = wasExclusive == 0;
    DcbFromTermios(fd, settings, device->dcb);
    device->txEpoll = epoll_create1(EPOLL_CLOEXEC);
    if (device->txEpoll >= 0) {
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLET;
        if (epoll_ctl(device->txEpoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
            ::close(device->txEpoll);
            device->txEpoll = -1;
        }
    }
    std::lock_guard lock(mutex_);
    HANDLE handle = next_++;
    devices_[handle] = std::move(device);
    return handle;
}

bool TTermiosSerial::GetCommState(HANDLE Handle, DCB& Dcb) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(dev->mutex);
    Dcb = dev->dcb;
    return true;
}

bool TTermiosSerial::SetCommState(HANDLE Handle, const DCB& Dcb) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(dev->mutex);
    if (dev->closed) return Fail(ERROR_INVALID_HANDLE);
    int fd = dev->fd;
    termios t{};
    if (tcgetattr(fd, &t) != 0) return Sys::FailFromErrno();

    speed_t speed = B0;
    bool standard = SpeedCode(Dcb.BaudRate, speed);
    if (Dcb.BaudRate == 0) return Fail(EINVAL);
    if (standard) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    switch (Dcb.ByteSize) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        case 8:
            t.c_cflag |= CS8;
            break;
        default:
            return Fail(EINVAL);
    }
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (Dcb.Parity) {
        case NOPARITY:
            break;
        case ODDPARITY:
            t.c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t.c_cflag |= PARENB;
            break;
        case MARKPARITY:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case SPACEPARITY:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return Fail(EINVAL);
    }
    if (Dcb.StopBits > TWOSTOPBITS) return Fail(EINVAL);
    // One and a half stop bits exist only with 5 data bits; Linux gives two for it.
    if (Dcb.StopBits == ONESTOPBIT) {
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else {
        t.c_cflag |= CSTOPB;
    }
    const uint32_t rts = Dcb.Flags & fRtsControlMask;
    const uint32_t dtr = Dcb.Flags & fDtrControlMask;
    if ((Dcb.Flags & fOutxCtsFlow) != 0 || rts == RTS_CONTROL_HANDSHAKE) {
        t.c_cflag |= CRTSCTS;
    } else {
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    if ((Dcb.Flags & fOutX) != 0) t.c_iflag |= IXON;
    if ((Dcb.Flags & fInX) != 0) t.c_iflag |= IXOFF;
    if ((Dcb.Flags & fParity) != 0) t.c_iflag |= INPCK;
    t.c_cc[VSTART] = static_cast<cc_t>(Dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(Dcb.XoffChar);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return Sys::FailFromErrno();
    if (!standard && !SetCustomBaudRate(fd, Dcb.BaudRate)) return Sys::FailFromErrno();

    // DTR/DSR handshake has no Linux counterpart; DTR is then simply held on. RTS toggling for
    // half-duplex lines is the driver's RS-485 mode; RTS is held off at rest.
    SetModemLine(fd, TIOCM_DTR, dtr != DTR_CONTROL_DISABLE);
    if (rts != RTS_CONTROL_HANDSHAKE) SetModemLine(fd, TIOCM_RTS, rts == RTS_CONTROL_ENABLE);
    dev->dcb = Dcb;
    return true;
}

bool TTermiosSerial::SetCommTimeouts(HANDLE Handle, const COMMTIMEOUTS& Timeouts) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(dev->mutex);
    dev->timeouts = Timeouts;
    return true;
}

bool TTermiosSerial::SetupComm(HANDLE Handle, int32_t InQueue, int32_t OutQueue) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    if (InQueue <= 0 || OutQueue <= 0) return Fail(EINVAL);
    std::lock_guard lock(dev->mutex);
    dev->inputLimit = static_cast<size_t>(InQueue);
    return true;
}

bool TTermiosSerial::SetCommMask(HANDLE Handle, uint32_t Mask) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(dev->mutex);
    dev->mask = Mask;
    dev->events = 0;
    ++dev->maskGeneration;
    dev->PokeAll();
    return true;
}

bool TTermiosSerial::WaitCommEvent(HANDLE Handle, uint32_t* Mask, OVERLAPPED* Overlapped) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    if (Mask == nullptr || Overlapped == nullptr) return Fail(EINVAL);
    if (Overlapped->hEvent != nullptr) Overlapped->hEvent->Reset();
    return Start(std::make_unique<CommWaitOp>(dev, Overlapped, Mask), Overlapped, nullptr);
}

bool TTermiosSerial::ClearCommError(HANDLE Handle, uint32_t* Errors, COMSTAT* Stat) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(dev->mutex);
    if (dev->closed) return Fail(ERROR_INVALID_HANDLE);
    if (const int failure = dev->Drain()) return Fail(Sys::CodeFromErrno(failure));
    dev->UpdateCounters();
    if (Errors != nullptr) *Errors = dev->errors;
    dev->errors = 0;
    if (Stat != nullptr) {
        *Stat = COMSTAT{};
        Stat->cbInQue = static_cast<uint32_t>(dev->input.size());
        int queued = 0;
        if (ioctl(dev->fd, TIOCOUTQ, &queued) == 0 && queued > 0)
            Stat->cbOutQue = static_cast<uint32_t>(queued);
    }
    return true;
}

bool TTermiosSerial::PurgeComm(HANDLE Handle, uint32_t Flags) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(dev->mutex);
    if (dev->closed) return Fail(ERROR_INVALID_HANDLE);
    if ((Flags & PURGE_RXABORT) != 0) ++dev->rxAbort;
    if ((Flags & PURGE_TXABORT) != 0) ++dev->txAbort;
    if ((Flags & (PURGE_RXABORT | PURGE_TXABORT)) != 0) dev->PokeAll();
    // A line that has hung up (an adapter pulled out) has no queues left to clear: that is no failure,
    // so that closing a vanished port succeeds and the port can be chosen again.
    auto flush = [&](int queue) { return tcflush(dev->fd, queue) == 0 || errno == EIO || errno == ENODEV; };
    if ((Flags & PURGE_RXCLEAR) != 0) {
        dev->input.clear();
        if (!flush(TCIFLUSH)) return Sys::FailFromErrno();
    }
    if ((Flags & PURGE_TXCLEAR) != 0 && !flush(TCOFLUSH)) return Sys::FailFromErrno();
    return true;
}

bool TTermiosSerial::ReadFile(HANDLE Handle, void* Buffer, uint32_t Count, uint32_t* Read,
                              OVERLAPPED* Overlapped) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    if (Overlapped == nullptr || (Buffer == nullptr && Count > 0)) return Fail(EINVAL);
    if (Overlapped->hEvent != nullptr) Overlapped->hEvent->Reset();
    auto* out = static_cast<char*>(Buffer);
    uint32_t taken = 0;
    {
        std::lock_guard lock(dev->mutex);
        if (dev->closed) return Fail(ERROR_INVALID_HANDLE);
        const int failure = dev->Drain();
        if (failure != 0 && dev->input.empty()) return Fail(Sys::CodeFromErrno(failure));
        while (taken < Count && !dev->input.empty()) {
            out[taken++] = dev->input.front();
            dev->input.pop_front();
        }
        const auto& t = dev->timeouts;
        bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                      t.ReadTotalTimeoutConstant == 0;
        if (taken == Count || atOnce) {
            if (Read != nullptr) *Read = taken;
            CompleteAtOnce(Overlapped, 0, taken);
            return true;
        }
    }
    return Start(std::make_unique<ReadOp>(dev, Overlapped, out, Count, taken), Overlapped, Read);
}

bool TTermiosSerial::WriteFile(HANDLE Handle, const void* Buffer, uint32_t Count, uint32_t* Written,
                               OVERLAPPED* Overlapped) {
    auto dev = Find(Handle);
    if (!dev) return Fail(ERROR_INVALID_HANDLE);
    if (Overlapped == nullptr || (Buffer == nullptr && Count > 0)) return Fail(EINVAL);
    if (Overlapped->hEvent != nullptr) Overlapped->hEvent->Reset();
    const auto* data = static_cast<const char*>(Buffer);
    uint32_t done = 0;
    {
        std::lock_guard lock(dev->mutex);
        if (dev->closed) return Fail(ERROR_INVALID_HANDLE);
        while (done < Count) {
            ssize_t n = ::write(dev->fd, data + done, Count - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) break;
                return Sys::FailFromErrno();
            }
            done += static_cast<uint32_t>(n);
            dev->txPending = true;
        }
        dev->CheckTxEmpty();
        if (done == Count) {
            if (Written != nullptr) *Written = done;
            CompleteAtOnce(Overlapped, 0, done);
            return true;
        }
    }
    return Start(std::make_unique<WriteOp>(dev, Overlapped, data, Count, done), Overlapped, Written);
}

bool TTermiosSerial::GetOverlappedResult(HANDLE Handle, OVERLAPPED* Overlapped, uint32_t* Transferred,
                                         bool Wait) {
    if (!Find(Handle)) return Fail(ERROR_INVALID_HANDLE);
    if (Overlapped == nullptr) return Fail(EINVAL);
    if (Overlapped->Internal == STATUS_PENDING && Wait && Overlapped->hEvent != nullptr)
        Sync::WaitForSingleObject(Overlapped->hEvent, Sync::INFINITE);
    if (Overlapped->Internal == STATUS_PENDING) return Fail(Sys::ERROR_IO_INCOMPLETE);
    if (Transferred != nullptr) *Transferred = Overlapped->InternalHigh;
    return Overlapped->Internal == 0 ? true : Fail(Overlapped->Internal);
}

bool TTermiosSerial::CloseHandle(HANDLE Handle) {
    std::shared_ptr<Device> dev;
    {
        std::lock_guard lock(mutex_);
        auto entry = devices_.find(Handle);
        if (entry == devices_.end()) return Fail(ERROR_INVALID_HANDLE);
        dev = std::move(entry->second);
        devices_.erase(entry);
    }
    // Wake every operation sleeping on the descriptor and wait until they have left poll(), so
    // the descriptor (and with it the lock on the device) is really gone when this returns.
    std::unique_lock lock(dev->mutex);
    dev->closed = true;
    dev->PokeAll();
    dev->idle.wait(lock, [&] { return dev->pollers == 0; });
    if (dev->txEpoll >= 0) ::close(dev->txEpoll);
    // The exclusive flag belongs to the terminal, not to our descriptor: clear it, or a device that
    // another process keeps open (a simulator, a terminal multiplexer) could not be opened again.
    if (dev->clearExclusive) ioctl(dev->fd, TIOCNXCL);
    ::close(dev->fd);
    dev->txEpoll = -1;
    dev->fd = -1;
    return true;
}

}  // namespace Serial
