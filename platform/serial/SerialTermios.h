#pragma once
// The serial operations on POSIX termios (Linux).
//
// A device is opened non-blocking, without becoming the controlling terminal, close-on-exec and
// exclusive (TIOCEXCL, and an advisory flock that also holds against root and against a second
// open in the same program), and put in raw mode. Received bytes are moved from the kernel into
// the device's input queue (SetupComm's size; what does not fit is dropped and reported as
// CE_RXOVER), which lets the layer report "characters arrived" once per arrival, as the event
// model expects, instead of as long as unread bytes are waiting.
//
// Line events, and what a Linux driver lets us see without polling:
//   EV_RXCHAR   bytes arrived (any tty)
//   EV_RXFLAG   the event character arrived (any tty)
//   EV_TXEMPTY  the output queue ran empty (any tty; a pseudo-terminal reports it right after
//               each write, since it has no output queue of its own)
//   EV_ERR, EV_BREAK  line-error and break counters (TIOCGICOUNT) that changed with arriving
//               bytes; a pseudo-terminal has no counters and never reports them
//   EV_CTS, EV_DSR, EV_RLSD, EV_RING  not reported: modem-line changes wake no poll() waiter
//               on Linux, only a blocking TIOCMIWAIT.

#include <map>
#include <memory>
#include <mutex>

#include "platform/serial/Serial.h"

namespace Serial {

class TTermiosSerial : public TSerialApi {
public:
    TTermiosSerial();
    ~TTermiosSerial() override;

    HANDLE CreateFile(const std::string& DeviceName) override;
    bool GetCommState(HANDLE Device, DCB& Dcb) override;
    bool SetCommState(HANDLE Device, const DCB& Dcb) override;
    bool SetCommTimeouts(HANDLE Device, const COMMTIMEOUTS& Timeouts) override;
    bool SetupComm(HANDLE Device, int32_t InQueue, int32_t OutQueue) override;
    bool SetCommMask(HANDLE Device, uint32_t Mask) override;
    bool WaitCommEvent(HANDLE Device, uint32_t* Mask, OVERLAPPED* Overlapped) override;
    bool ClearCommError(HANDLE Device, uint32_t* Errors, COMSTAT* Stat) override;
    bool PurgeComm(HANDLE Device, uint32_t Flags) override;
    bool ReadFile(HANDLE Device, void* Buffer, uint32_t Count, uint32_t* Read,
                  OVERLAPPED* Overlapped) override;
    bool WriteFile(HANDLE Device, const void* Buffer, uint32_t Count, uint32_t* Written,
                   OVERLAPPED* Overlapped) override;
    bool GetOverlappedResult(HANDLE Device, OVERLAPPED* Overlapped, uint32_t* Transferred,
                             bool Wait) override;
    bool CloseHandle(HANDLE Device) override;

    struct Device;

private:
    std::shared_ptr<Device> Find(HANDLE Handle);

    std::mutex mutex_;
    std::map<HANDLE, std::shared_ptr<Device>> devices_;
    HANDLE next_ = 1;  // handles are never reused, so a stale one is simply invalid
};

}  // namespace Serial
