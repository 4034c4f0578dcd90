#include "device/VaComm.h"

#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/Application.h"
#include "platform/Clock.h"

using namespace Serial;

namespace {

constexpr uint32_t kBaudValues[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                    19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr uint32_t kEventBits[] = {EV_BREAK, EV_CTS,    EV_DSR,     EV_ERR,   EV_RING,
                                   EV_RLSD,  EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG};
constexpr uint32_t kOptionBits[] = {fTXContinueOnXoff, fErrorChar, fNull, fParity, fDsrSensitivity};
constexpr uint32_t kDtrBits[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE};
constexpr uint32_t kRtsBits[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE,
                                 RTS_CONTROL_TOGGLE};

// Fills the first "%d" with Code and the first "%s" with Text.
std::string FormatError(const std::string& Format, uint32_t Code, const std::string& Text) {
    std::string message = Format;
    auto at = message.find("%d");
    if (at != std::string::npos) message.replace(at, 2, std::to_string(Code));
    at = message.find("%s");
    if (at != std::string::npos) message.replace(at, 2, Text);
    return message;
}

// The system text of a code without the trailing blanks, control characters and full stops.
std::string SystemText(uint32_t Code) {
    std::string text = Sys::FormatMessage(Code);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
        text.pop_back();
    return text;
}

// Holds the component's lock for a scope.
class TLockGuard {
public:
    explicit TLockGuard(TVaCriticalSection& Lock) : lock_(Lock) { lock_.Enter(); }
    ~TLockGuard() { lock_.Leave(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    TVaCriticalSection& lock_;
};

}  // namespace

uint32_t BaudrateValue(TVaBaudrate Baudrate) {
    return kBaudValues[Baudrate];
}

// ---- TVaEventChars ----

void TVaEventChars::SetXonChar(char Value) {
    xonChar_ = Value;
    Changed();
}

void TVaEventChars::SetXoffChar(char Value) {
    xoffChar_ = Value;
    Changed();
}

void TVaEventChars::SetErrorChar(char Value) {
    errorChar_ = Value;
    Changed();
}

void TVaEventChars::SetEventChar(char Value) {
    eventChar_ = Value;
    Changed();
}

void TVaEventChars::Assign(const TVaPersistent& Source) {
    const auto* chars = dynamic_cast<const TVaEventChars*>(&Source);
    if (chars == nullptr) {
        TVaPersistent::Assign(Source);
        return;
    }
    // Read the source first: it may be this object.
    const char xon = chars->XonChar(), xoff = chars->XoffChar(), error = chars->ErrorChar(),
               event = chars->EventChar();
    BeginUpdate();
    try {
        SetXonChar(xon);
        SetXoffChar(xoff);
        SetErrorChar(error);
        SetEventChar(event);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

// ---- TVaCommThread ----

TVaCommThread::TVaCommThread(TSerialApi& Api, HANDLE PortHandle, TThreadPriority Priority)
    : api_(Api), port_(PortHandle) {
    SetFreeOnTerminate(true);
    SetPriority(Priority);
    Start();
}

void TVaCommThread::Stop() {
    callback_ = nullptr;
    lineLost_ = nullptr;
    Terminate();  // the thread may delete itself from here on
}

void TVaCommThread::TerminatedSet() {
    wake_.SetEvent();
}

void TVaCommThread::Execute() {
    try {
        Watch();
    } catch (const std::exception& error) {
        ReportAndWaitForStop(error);
    } catch (...) {
        ReportAndWaitForStop(std::runtime_error("Unknown error in a serial port event"));
    }
}

void TVaCommThread::ReportAndWaitForStop(const std::exception& Error) {
    // The operator hears that no more events will come (unless the port was closed meanwhile).
    const std::string message = Error.what();
    Synchronize([this, &message] {
        if (callback_) Application::HandleException(std::runtime_error(message));
    });
    // The component still holds this object and will Stop it: it must not delete itself before.
    while (!Terminated()) {
        wake_.ResetEvent();
        if (Terminated()) break;  // a Stop before the reset
        wake_.WaitFor(Sync::INFINITE);
    }
}

void TVaCommThread::Watch() {
    OVERLAPPED overlapped{};
    overlapped.hEvent = wake_.Handle();
    while (!Terminated()) {
        eventMask_ = 0;
        const int64_t started = Clock::MonotonicNs();
        bool ok = api_.WaitCommEvent(port_, &eventMask_, &overlapped);
        uint32_t failure = ok ? 0 : GetLastError();
        if (!ok && failure == Sys::ERROR_IO_PENDING) {
            // Starting the wait cleared the wake event; a Stop before that point shows here.
            if (Terminated()) break;
            ok = wake_.WaitFor(Sync::INFINITE) == wrSignaled;
            failure = 0;
            // A started wait that ended without events may have failed: its record tells.
            uint32_t transferred = 0;
            if (ok && eventMask_ == 0 && !Terminated() &&
                !api_.GetOverlappedResult(port_, &overlapped, &transferred, false))
                failure = GetLastError();
        }
        if (Terminated()) continue;
        // While the application shuts down, completed waits are not handed over.
        if (ok && eventMask_ != 0 && !Application::Terminated()) {
            Synchronize([this] { DoEvent(); });
            wake_.ResetEvent();
        } else {
            // The component closes the port in this hand-off, which ends the loop.
            if (IsLineLoss(failure) && !Application::Terminated()) Synchronize([this] { DoLineLost(); });
            if (!Terminated()) PauseBeforeRetry(started);
        }
    }
}

void TVaCommThread::PauseBeforeRetry(int64_t StartedNs) {
    const int64_t remainingNs = StartedNs + int64_t{kRetryPauseMs} * 1000000 - Clock::MonotonicNs();
    if (remainingNs <= 0) return;
    wake_.ResetEvent();
    if (Terminated()) return;  // a Stop before the reset
    wake_.WaitFor(static_cast<int32_t>((remainingNs + 999999) / 1000000));
}

void TVaCommThread::DoEvent() {
    if (!callback_) return;
    TCommEventCallback callback = callback_;  // a handler may Close the port and clear callback_
    try {
        callback(this, eventMask_);
    } catch (const std::exception& error) {
        Application::HandleException(error);
    } catch (...) {
        Application::HandleException(std::runtime_error("Unknown error in a serial port event"));
    }
}

void TVaCommThread::DoLineLost() {
    if (!lineLost_) return;
    std::function<void()> lineLost = lineLost_;
    try {
        lineLost();
    } catch (const std::exception& error) {
        Application::HandleException(error);
    }
}

bool IsLineLoss(uint32_t Code) {
    return Sys::IsDeviceGone(Code);
}

// ---- TVaCustomComm ----

TVaCustomComm::TVaCustomComm(TObject* Owner) : TVaCoreComponent(Owner) {
    eventChars_.OnChange = [this](TObject*) { ApplySettings(); };
}

TVaCustomComm::~TVaCustomComm() {
    Destroying();
    try {
        Close();
    } catch (...) {
        // The device is closed all the same; there is nobody left to tell.
    }
}

void TVaCustomComm::Open() {
    CheckClosed();
    api_ = &SerialApi();
    OpenDevice();
    if (!IsOpen()) return;
    try {
        ApplySettings();
        SetTimeouts();
        SetupBuffers();
        SetEventMask(GetEventMask());
        try {
            watcher_ = new TVaCommThread(Api(), handle_, priority_);
        } catch (const std::system_error&) {
            // The system gives no thread: without a watcher the port would never report data.
            throw EVaCommError("Can't open device COM" + std::to_string(portNum_));
        }
        watcher_->SetEventCallback([this](TObject* Sender, uint32_t Mask) { HandleCommEvent(Sender, Mask); });
        watcher_->SetLineLostCallback([this] { HandleLineLoss(); });
        DoOpen();
    } catch (...) {
        StopWatcher();
        CloseDevice();
        throw;
    }
}

void TVaCustomComm::Close() {
    if (!IsOpen()) return;
    StopWatcher();
    try {
        PurgeAll();
    } catch (...) {
        CloseDevice();  // a port that cannot be purged (device gone) must still end up closed
        throw;
    }
    CloseDevice();
    DoClose();
}

void TVaCustomComm::HandleLineLoss() {
    if (!IsOpen()) return;
    StopWatcher();
    try {
        PurgeAll();
    } catch (const EVaCommError&) {
        // A line that is gone may refuse the purge; it is closed all the same.
    }
    CloseDevice();
    if (OnDisconnect) OnDisconnect(this);
}

void TVaCustomComm::StopWatcher() {
    if (watcher_ == nullptr) return;
    TVaCommThread* watcher = std::exchange(watcher_, nullptr);
    watcher->Stop();
}

void TVaCustomComm::CheckClosed() {
    if (IsOpen()) throw EVaCommError("Can't perform this operation when port is open");
}

std::string TVaCustomComm::GetDeviceName() const {
    return "COM" + std::to_string(portNum_);
}

void TVaCustomComm::OpenDevice() {
    handle_ = Api().CreateFile(GetDeviceName());
    if (handle_ == INVALID_HANDLE_VALUE) {
        const uint32_t code = GetLastError();
        api_ = nullptr;
        // A second line names the device, the reason and the remedy.
        const std::string hint = OpenFailureHint(GetDeviceName(), code);
        const std::string second = hint.empty() ? std::string() : "\n" + hint;
        if (code == Sys::ERROR_FILE_NOT_FOUND)
            throw EVaCommError("Invalid port number (COM" + std::to_string(portNum_) + ")" + second);
        throw EVaCommError("Can't open device COM" + std::to_string(portNum_) + second);
    }
}

void TVaCustomComm::CloseDevice() {
    if (handle_ != INVALID_HANDLE_VALUE) Api().CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    api_ = nullptr;
}

void TVaCustomComm::RaiseCommError(const std::string& Format, uint32_t Code) {
    throw EVaCommError(FormatError(Format, Code, SystemText(Code)));
}

void TVaCustomComm::ApplySettings() {
    if (ComponentState().Contains(csLoading) || !IsOpen()) return;
    TLockGuard guard(lock_);
    DCB dcb;
    ReadDCB(dcb);
    dcb.BaudRate = BaudrateValue(baudrate_);
    dcb.ByteSize = static_cast<uint8_t>(4 + databits_);
    dcb.Parity = static_cast<uint8_t>(parity_);
    dcb.StopBits = static_cast<uint8_t>(stopbits_);
    dcb.XonChar = eventChars_.XonChar();
    dcb.XoffChar = eventChars_.XoffChar();
    dcb.ErrorChar = eventChars_.ErrorChar();
    dcb.EvtChar = eventChars_.EventChar();
    dcb.XonLim = static_cast<uint16_t>(xonLim_);
    dcb.XoffLim = static_cast<uint16_t>(xoffLim_);

    uint32_t flags = fBinary | fAbortOnError;
    switch (flowControl_) {
        case fcNone:
            break;
        case fcRtsCts:
            flags |= fOutxCtsFlow | RTS_CONTROL_HANDSHAKE;
            break;
        case fcDtrDsr:
            flags |= fOutxDsrFlow | DTR_CONTROL_HANDSHAKE;
            break;
        case fcXonXoff:
            flags |= fOutX | fInX;
            break;
    }
    if (flowControl_ != fcDtrDsr) flags |= kDtrBits[dtrControl_];
    if (flowControl_ != fcRtsCts) flags |= kRtsBits[rtsControl_];
    for (int option = coContinueOnXOff; option <= coDsrSensitivity; ++option) {
        if (options_.Contains(static_cast<TVaCommOption>(option))) flags |= kOptionBits[option];
    }
    dcb.Flags = flags;
    WriteDCB(dcb);
}

void TVaCustomComm::SetTimeouts() {
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!Api().SetCommTimeouts(handle_, timeouts))
        RaiseCommError("Error setting timeouts (%d), %s", GetLastError());
}

void TVaCustomComm::SetupBuffers() {
    if (!Api().SetupComm(handle_, readBufSize_, writeBufSize_))
        RaiseCommError("Error initializing buffers (%d), %s", GetLastError());
}

uint32_t TVaCustomComm::GetEventMask() const {
    uint32_t mask = 0;
    for (int event = ceBreak; event <= ceEvent; ++event) {
        if (monitorEvents_.Contains(static_cast<TVaCommEvent>(event))) mask |= kEventBits[event];
    }
    return mask;
}

void TVaCustomComm::SetEventMask(uint32_t Mask) {
    TLockGuard guard(lock_);
    if (IsOpen() && !Api().SetCommMask(handle_, Mask))
        RaiseCommError(" Error setting EventMask (%d), %s", GetLastError());
}

void TVaCustomComm::Purge(uint32_t Flags) {
    TLockGuard guard(lock_);
    if (IsOpen() && !Api().PurgeComm(handle_, Flags))
        RaiseCommError("Error clearing buffers (%d), %s", GetLastError());
}

void TVaCustomComm::PurgeAll() {
    Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void TVaCustomComm::ReadDCB(DCB& Dcb) {
    if (!Api().GetCommState(handle_, Dcb)) RaiseCommError("Error reading dcb (%d), %s", GetLastError());
}

void TVaCustomComm::WriteDCB(const DCB& Dcb) {
    if (!Api().SetCommState(handle_, Dcb)) RaiseCommError("Error writing dcb (%d), %s", GetLastError());
}

void TVaCustomComm::DoOpen() {
    if (OnOpen) OnOpen(this);
}

void TVaCustomComm::DoClose() {
    if (OnClose && !ComponentState().Contains(csDestroying)) OnClose(this);
}

int32_t TVaCustomComm::WriteBuf(const void* Buffer, int32_t Count) {
    TLockGuard guard(lock_);
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.Handle();
    uint32_t written = 0;
    const uint32_t count = Count > 0 ? static_cast<uint32_t>(Count) : 0;
    if (!Api().WriteFile(handle_, Buffer, count, &written, &overlapped)) {
        uint32_t error = GetLastError();
        if (error != Sys::ERROR_IO_PENDING) RaiseCommError("Write error (%d), %s", error);
    }
    // A wait that runs out cancels the started write before it returns.
    if (ioEvent_.WaitFor(writeTimeout_) != wrSignaled) return 0;
    written = 0;
    Api().GetOverlappedResult(handle_, &overlapped, &written, false);
    ioEvent_.ResetEvent();
    return static_cast<int32_t>(written);
}

int32_t TVaCustomComm::ReadBuf(void* Buffer, int32_t Count) {
    TLockGuard guard(lock_);
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.Handle();
    uint32_t read = 0;
    const uint32_t count = Count > 0 ? static_cast<uint32_t>(Count) : 0;
    if (!Api().ReadFile(handle_, Buffer, count, &read, &overlapped)) {
        uint32_t error = GetLastError();
        if (error != Sys::ERROR_IO_PENDING) RaiseCommError("Read error (%d), %s", error);
    }
    if (ioEvent_.WaitFor(readTimeout_) != wrSignaled) return 0;
    read = 0;
    Api().GetOverlappedResult(handle_, &overlapped, &read, false);
    ioEvent_.ResetEvent();
    return static_cast<int32_t>(read);
}

bool TVaCustomComm::WriteChar(char Ch) {
    return WriteBuf(&Ch, 1) == 1;
}

void TVaCustomComm::ReadText(std::string& Text) {
    int32_t count = InQueCount();
    Text.assign(static_cast<size_t>(count), '\0');
    if (count > 0) Text.resize(static_cast<size_t>(ReadBuf(Text.data(), count)));
}

void TVaCustomComm::ReadStatus(COMSTAT& Stat) {
    Stat = COMSTAT{};
    TLockGuard guard(lock_);
    if (!IsOpen()) return;
    uint32_t errors = 0;
    if (!Api().ClearCommError(handle_, &errors, &Stat))
        RaiseCommError("Error retrieving statistics (%d), %s", GetLastError());
}

int32_t TVaCustomComm::InQueCount() {
    if (!IsOpen()) return 0;
    COMSTAT stat;
    ReadStatus(stat);
    return static_cast<int32_t>(stat.cbInQue);
}

void TVaCustomComm::HandleCommEvent(TObject*, uint32_t Mask) {
    uint32_t errors = 0;
    COMSTAT stat;
    if ((Mask & (EV_ERR | EV_RXCHAR)) != 0) {
        TLockGuard guard(lock_);
        if (!Api().ClearCommError(handle_, &errors, &stat))
            RaiseCommError("Error retrieving statistics (%d), %s", GetLastError());
    }
    if ((Mask & EV_ERR) != 0 && OnError) OnError(this, static_cast<int32_t>(errors));
    if ((Mask & EV_RXCHAR) != 0 && stat.cbInQue > 0 && OnData)
        OnData(this, static_cast<int32_t>(stat.cbInQue));
    const std::pair<uint32_t, TNotifyEvent TVaCustomComm::*> later[] = {
        {EV_RXFLAG, &TVaCustomComm::OnRxFlag},   {EV_RX80FULL, &TVaCustomComm::OnRx80Full},
        {EV_CTS, &TVaCustomComm::OnCts},         {EV_DSR, &TVaCustomComm::OnDsr},
        {EV_RING, &TVaCustomComm::OnRing},       {EV_RLSD, &TVaCustomComm::OnRlsd},
        {EV_TXEMPTY, &TVaCustomComm::OnTxEmpty}, {EV_BREAK, &TVaCustomComm::OnBreak},
        {EV_EVENT1, &TVaCustomComm::OnEvent1},   {EV_EVENT2, &TVaCustomComm::OnEvent2},
    };
    for (const auto& [bit, event] : later) {
        if ((Mask & bit) == 0) continue;
        TNotifyEvent handler = this->*event;  // a handler may rebind the events
        if (handler) handler(this);
    }
}

// ---- Properties ----

template <class T>
void TVaCustomComm::Reapply(T& Field, T Value) {
    if (Field == Value) return;
    Field = Value;
    ApplySettings();
}

template <class T>
void TVaCustomComm::StoreWhileClosed(T& Field, T Value) {
    if (Field == Value) return;
    CheckClosed();
    Field = Value;
}

void TVaCustomComm::SetBaudrate(TVaBaudrate Value) {
    Reapply(baudrate_, Value);
}
void TVaCustomComm::SetParity(TVaParity Value) {
    Reapply(parity_, Value);
}
void TVaCustomComm::SetDatabits(TVaDatabits Value) {
    Reapply(databits_, Value);
}
void TVaCustomComm::SetStopbits(TVaStopbits Value) {
    Reapply(stopbits_, Value);
}
void TVaCustomComm::SetFlowControl(TVaFlowControl Value) {
    Reapply(flowControl_, Value);
}
void TVaCustomComm::SetOptions(TVaCommOptions Value) {
    Reapply(options_, Value);
}
void TVaCustomComm::SetXonLim(int32_t Value) {
    Reapply(xonLim_, Value);
}
void TVaCustomComm::SetXoffLim(int32_t Value) {
    Reapply(xoffLim_, Value);
}
void TVaCustomComm::SetDTRControl(TVaDTRControl Value) {
    Reapply(dtrControl_, Value);
}
void TVaCustomComm::SetRTSControl(TVaRTSControl Value) {
    Reapply(rtsControl_, Value);
}
void TVaCustomComm::SetPortNum(int32_t Value) {
    StoreWhileClosed(portNum_, Value);
}
void TVaCustomComm::SetMonitorEvents(TVaCommEvents Value) {
    StoreWhileClosed(monitorEvents_, Value);
}
void TVaCustomComm::SetReadBufSize(int32_t Value) {
    StoreWhileClosed(readBufSize_, Value);
}
void TVaCustomComm::SetWriteBufSize(int32_t Value) {
    StoreWhileClosed(writeBufSize_, Value);
}
void TVaCustomComm::SetPriority(TThreadPriority Value) {
    StoreWhileClosed(priority_, Value);
}
void TVaCustomComm::SetEventChars(const TVaEventChars& Value) {
    eventChars_.Assign(Value);
}
