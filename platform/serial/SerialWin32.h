#pragma once
// The serial operations on Windows: each is the system's own call on the device (\\.\COMn, see
// PortMap.h), opened exclusively for overlapped I/O. The line settings, time-outs and status
// records of Serial.h have the system's layout and reach the system unchanged.
//
// A started read, write or line-event wait has its own system record and completion event. It is
// attached to the caller's event (SyncObjects.h), so that a wait on that event completes it, and a
// wait that gives up cancels it (CancelIoEx) and waits until the system has let go of the
// caller's record and buffer.
//
// A line-event wait that the system ends as cancelled although nobody cancelled it, while bytes
// are waiting and EV_RXCHAR is monitored, reports EV_RXCHAR: Wine ends such waits on a
// pseudo-terminal every few tens of milliseconds, and the received data must still be read.

#include "platform/serial/Serial.h"

namespace Serial {

class TWin32Serial final : public TSerialApi {
public:
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
};

}  // namespace Serial
