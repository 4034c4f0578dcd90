#pragma once
// The serial port component: one numbered COM device, opened for started (overlapped) I/O,
// configured from the component's properties, with line events delivered on the GUI thread by
// a watcher thread.

#include <cstdint>
#include <functional>
#include <string>

#include "device/VaClasses.h"
#include "device/VaObjects.h"
#include "platform/Exception.h"
#include "platform/Thread.h"
#include "platform/serial/Serial.h"

enum TVaBaudrate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaCommEvent { ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceData, ceTxEmpty, ceEvent };
using TVaCommEvents = TSet<TVaCommEvent>;
enum TVaCommOption { coContinueOnXOff, coErrorChar, coNullStrip, coParityCheck, coDsrSensitivity };
using TVaCommOptions = TSet<TVaCommOption>;
enum TVaFlowControl { fcNone, fcRtsCts, fcDtrDsr, fcXonXoff };
enum TVaDTRControl { dtrDisable, dtrEnable, dtrHandshake };
enum TVaRTSControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Bits per second of a TVaBaudrate.
uint32_t BaudrateValue(TVaBaudrate Baudrate);

// Every error of the serial component.
class EVaCommError : public Exception {
public:
    using Exception::Exception;
};

using TVaCommErrorEvent = std::function<void(TObject* Sender, int32_t Errors)>;
using TVaCommDataEvent = std::function<void(TObject* Sender, int32_t Count)>;

// The special characters of the line settings. Setting any of them announces a change, even
// with the same value.
class TVaEventChars : public TVaPersistent {
public:
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    char ErrorChar() const { return errorChar_; }
    char EventChar() const { return eventChar_; }
    void SetXonChar(char Value);
    void SetXoffChar(char Value);
    void SetErrorChar(char Value);
    void SetEventChar(char Value);

    // Copies all four characters with one change announcement.
    void Assign(const TVaPersistent& Source) override;
    std::string ClassName() const override { return "TVaEventChars"; }

private:
    char xonChar_ = 17;
    char xoffChar_ = 19;
    char errorChar_ = 0;
    char eventChar_ = 0;
};

// The watcher of an open port: waits in the kernel for the monitored line events and hands each
// event mask to the GUI thread, waiting until it has been handled there. It deletes itself when
// it ends after Stop, and only then.
class TVaCommThread final : public TThread {
public:
    using TCommEventCallback = std::function<void(TObject* Sender, uint32_t Mask)>;

    // Starts at once at Priority. Throws std::system_error when the system gives no thread.
    TVaCommThread(Serial::TSerialApi& Api, Serial::HANDLE PortHandle, TThreadPriority Priority);

    // Bound by Open right after creation (GUI thread).
    void SetEventCallback(TCommEventCallback Callback) { callback_ = std::move(Callback); }
    // Called on the GUI thread when the line hangs up (the device is gone); bound by Open.
    void SetLineLostCallback(std::function<void()> Callback) { lineLost_ = std::move(Callback); }

    // GUI thread: clears the callback, sets Terminated and wakes the thread. Does not wait for
    // it; after Stop the object must not be touched again.
    void Stop();

    // The pause between two waits that ended without an event, so that a device that fails
    // every wait (unplugged, hung up) is not retried in a tight loop.
    static constexpr int kRetryPauseMs = 100;

protected:
    void Execute() override;
    void TerminatedSet() override;

private:
    void Watch();
    // A body that ended by an exception: reports it and waits for Stop, so that the object does not
    // delete itself while the component still holds it.
    void ReportAndWaitForStop(const std::exception& Error);
    void DoEvent();
    void DoLineLost();
    void PauseBeforeRetry(int64_t StartedNs);

    Serial::TSerialApi& api_;
    Serial::HANDLE port_;
    TVaSimpleEvent wake_;
    uint32_t eventMask_ = 0;
    TCommEventCallback callback_;
    std::function<void()> lineLost_;
};

// Whether a failed wait means that the line hung up: the adapter was pulled out, or the far end of a
// pseudo-terminal closed.
bool IsLineLoss(uint32_t Code);

// All state and behaviour of the serial component; TVaComm publishes it.
class TVaCustomComm : public TVaCoreComponent {
public:
    explicit TVaCustomComm(TObject* Owner = nullptr);
    // Closes the port without OnClose; an error while closing is dropped.
    ~TVaCustomComm() override;

    void Open();
    void Close();
    bool IsOpen() const { return handle_ != Serial::INVALID_HANDLE_VALUE; }
    Serial::HANDLE Handle() const { return handle_; }

    int32_t WriteBuf(const void* Buffer, int32_t Count);
    int32_t ReadBuf(void* Buffer, int32_t Count);
    bool WriteChar(char Ch);
    void ReadText(std::string& Text);
    void ReadStatus(Serial::COMSTAT& Stat);
    int32_t InQueCount();

    virtual void OpenDevice();
    virtual void HandleCommEvent(TObject* Sender, uint32_t Mask);
    // The line hung up: the device is closed at once (which also drops its lock, so that the kernel
    // can give the same name to the adapter when it comes back), and OnDisconnect fires.
    void HandleLineLoss();

protected:
    void CheckClosed();
    std::string GetDeviceName() const;
    void CloseDevice();
    void ApplySettings();
    void SetTimeouts();
    void SetupBuffers();
    uint32_t GetEventMask() const;
    void SetEventMask(uint32_t Mask);
    void Purge(uint32_t Flags);
    void PurgeAll();
    void ReadDCB(Serial::DCB& Dcb);
    void WriteDCB(const Serial::DCB& Dcb);
    void Lock() { lock_.Enter(); }
    void Unlock() { lock_.Leave(); }
    void DoOpen();
    void DoClose();
    [[noreturn]] void RaiseCommError(const std::string& Format, uint32_t Code);

    // The layer of the open device, or the current one while closed.
    Serial::TSerialApi& Api() const { return api_ != nullptr ? *api_ : Serial::SerialApi(); }

    // Properties (published by TVaComm).
    TVaBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TVaBaudrate Value);
    TVaParity Parity() const { return parity_; }
    void SetParity(TVaParity Value);
    TVaDatabits Databits() const { return databits_; }
    void SetDatabits(TVaDatabits Value);
    TVaStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TVaStopbits Value);
    int32_t PortNum() const { return portNum_; }
    void SetPortNum(int32_t Value);
    TVaCommEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TVaCommEvents Value);
    TVaEventChars& EventChars() { return eventChars_; }
    void SetEventChars(const TVaEventChars& Value);
    int32_t ReadBufSize() const { return readBufSize_; }
    void SetReadBufSize(int32_t Value);
    int32_t WriteBufSize() const { return writeBufSize_; }
    void SetWriteBufSize(int32_t Value);
    int32_t ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int32_t Value) { readTimeout_ = Value; }
    int32_t WriteTimeout() const { return writeTimeout_; }
    void SetWriteTimeout(int32_t Value) { writeTimeout_ = Value; }
    TVaFlowControl FlowControl() const { return flowControl_; }
    void SetFlowControl(TVaFlowControl Value);
    TVaCommOptions Options() const { return options_; }
    void SetOptions(TVaCommOptions Value);
    int32_t XonLim() const { return xonLim_; }
    void SetXonLim(int32_t Value);
    int32_t XoffLim() const { return xoffLim_; }
    void SetXoffLim(int32_t Value);
    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority Value);
    TVaDTRControl DTRControl() const { return dtrControl_; }
    void SetDTRControl(TVaDTRControl Value);
    TVaRTSControl RTSControl() const { return rtsControl_; }
    void SetRTSControl(TVaRTSControl Value);

    // Events (published by TVaComm).
    TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TVaCommErrorEvent OnError;
    TVaCommDataEvent OnData;
    TNotifyEvent OnRxFlag, OnEvent1, OnEvent2, OnTxEmpty, OnRx80Full;
    TNotifyEvent OnDisconnect;

private:
    void StopWatcher();
    // Re-applied properties: store a new value and reconfigure an open port.
    template <class T>
    void Reapply(T& Field, T Value);
    // Properties refused while open: raise when open, else store.
    template <class T>
    void StoreWhileClosed(T& Field, T Value);

    Serial::HANDLE handle_ = Serial::INVALID_HANDLE_VALUE;
    TVaCriticalSection lock_;
    TVaSimpleEvent ioEvent_;
    TVaCommThread* watcher_ = nullptr;   // deletes itself after Stop
    Serial::TSerialApi* api_ = nullptr;  // the layer the open device belongs to
    int32_t portNum_ = 0;
    TVaCommEvents monitorEvents_;
    TVaBaudrate baudrate_ = br1200;
    TVaParity parity_ = paNone;
    TVaDatabits databits_ = db8;
    TVaStopbits stopbits_ = sb1;
    int32_t readBufSize_ = 4096;
    int32_t writeBufSize_ = 2048;
    int32_t readTimeout_ = 1000;
    int32_t writeTimeout_ = 1000;
    TVaCommOptions options_;
    TVaFlowControl flowControl_ = fcRtsCts;
    TVaEventChars eventChars_;
    int32_t xonLim_ = 1024;
    int32_t xoffLim_ = 1024;
    TThreadPriority priority_ = tpNormal;
    TVaDTRControl dtrControl_ = dtrEnable;
    TVaRTSControl rtsControl_ = rtsEnable;
};

class TVaComm : public TVaCustomComm {
public:
    using TVaCustomComm::TVaCustomComm;

    using TVaCustomComm::Baudrate;
    using TVaCustomComm::Databits;
    using TVaCustomComm::DTRControl;
    using TVaCustomComm::EventChars;
    using TVaCustomComm::FlowControl;
    using TVaCustomComm::MonitorEvents;
    using TVaCustomComm::Options;
    using TVaCustomComm::Parity;
    using TVaCustomComm::PortNum;
    using TVaCustomComm::Priority;
    using TVaCustomComm::ReadBufSize;
    using TVaCustomComm::ReadTimeout;
    using TVaCustomComm::RTSControl;
    using TVaCustomComm::SetBaudrate;
    using TVaCustomComm::SetDatabits;
    using TVaCustomComm::SetDTRControl;
    using TVaCustomComm::SetEventChars;
    using TVaCustomComm::SetFlowControl;
    using TVaCustomComm::SetMonitorEvents;
    using TVaCustomComm::SetOptions;
    using TVaCustomComm::SetParity;
    using TVaCustomComm::SetPortNum;
    using TVaCustomComm::SetPriority;
    using TVaCustomComm::SetReadBufSize;
    using TVaCustomComm::SetReadTimeout;
    using TVaCustomComm::SetRTSControl;
    using TVaCustomComm::SetStopbits;
    using TVaCustomComm::SetWriteBufSize;
    using TVaCustomComm::SetWriteTimeout;
    using TVaCustomComm::SetXoffLim;
    using TVaCustomComm::SetXonLim;
    using TVaCustomComm::Stopbits;
    using TVaCustomComm::WriteBufSize;
    using TVaCustomComm::WriteTimeout;
    using TVaCustomComm::XoffLim;
    using TVaCustomComm::XonLim;

    using TVaCustomComm::OnBreak;
    using TVaCustomComm::OnClose;
    using TVaCustomComm::OnCts;
    using TVaCustomComm::OnData;
    using TVaCustomComm::OnDisconnect;
    using TVaCustomComm::OnDsr;
    using TVaCustomComm::OnError;
    using TVaCustomComm::OnEvent1;
    using TVaCustomComm::OnEvent2;
    using TVaCustomComm::OnOpen;
    using TVaCustomComm::OnRing;
    using TVaCustomComm::OnRlsd;
    using TVaCustomComm::OnRx80Full;
    using TVaCustomComm::OnRxFlag;
    using TVaCustomComm::OnTxEmpty;
};
