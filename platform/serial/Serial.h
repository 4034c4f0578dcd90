#pragma once
// The serial operations the serial component is written against, behind one small interface.
// TTermiosSerial (SerialTermios.h) implements them on POSIX termios, TWin32Serial (SerialWin32.h)
// with the system's own calls on Windows; tests put a fake in its place with SetSerialApi. The
// records and constants below have the values and layout of the Windows ones.
//
// Devices are named "COM" + n. The port map (PortMap.h) names the device path of a port (COM3 ->
// /dev/ttyUSB0); a port without an entry is /dev/ttyS(n-1), on Windows \\.\COMn. COM0 and
// negative numbers are missing devices.

#include <cstdint>
#include <map>
#include <string>

#include "platform/serial/PortMap.h"
#include "platform/serial/SyncObjects.h"
#include "platform/serial/SysError.h"

namespace Serial {

using HANDLE = intptr_t;
constexpr HANDLE INVALID_HANDLE_VALUE = -1;
constexpr uint32_t MAXDWORD = 0xFFFFFFFF;

// Line events (event mask bits).
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t EV_RX80FULL = 0x0400;
constexpr uint32_t EV_EVENT1 = 0x0800;
constexpr uint32_t EV_EVENT2 = 0x1000;

// Line error bits of ClearCommError.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;

// PurgeComm flags.
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Flag bits of DCB::Flags.
constexpr uint32_t fBinary = 0x0001;
constexpr uint32_t fParity = 0x0002;
constexpr uint32_t fOutxCtsFlow = 0x0004;
constexpr uint32_t fOutxDsrFlow = 0x0008;
constexpr uint32_t fDtrControlMask = 0x0030;  // 0 disable, 0x10 enable, 0x20 handshake
constexpr uint32_t fDsrSensitivity = 0x0040;
constexpr uint32_t fTXContinueOnXoff = 0x0080;
constexpr uint32_t fOutX = 0x0100;
constexpr uint32_t fInX = 0x0200;
constexpr uint32_t fErrorChar = 0x0400;
constexpr uint32_t fNull = 0x0800;
constexpr uint32_t fRtsControlMask = 0x3000;  // 0 disable, 0x1000 enable, 0x2000 handshake, 0x3000 toggle
constexpr uint32_t fAbortOnError = 0x4000;

constexpr uint32_t DTR_CONTROL_DISABLE = 0x0000;
constexpr uint32_t DTR_CONTROL_ENABLE = 0x0010;
constexpr uint32_t DTR_CONTROL_HANDSHAKE = 0x0020;
constexpr uint32_t RTS_CONTROL_DISABLE = 0x0000;
constexpr uint32_t RTS_CONTROL_ENABLE = 0x1000;
constexpr uint32_t RTS_CONTROL_HANDSHAKE = 0x2000;
constexpr uint32_t RTS_CONTROL_TOGGLE = 0x3000;

constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

// Line settings.
struct DCB {
    uint32_t DCBlength = sizeof(DCB);
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = NOPARITY;
    uint8_t StopBits = ONESTOPBIT;
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;
};

struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
    uint32_t Flags = 0;
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

// The record of a started operation. Internal holds STATUS_PENDING while it runs, then the
// error code (0 on success); InternalHigh the number of bytes transferred.
constexpr uint32_t STATUS_PENDING = 0x103;
struct OVERLAPPED {
    uint32_t Internal = 0;
    uint32_t InternalHigh = 0;
    Sync::HANDLE hEvent = nullptr;
};

// The serial operations. Failures return false (or INVALID_HANDLE_VALUE) with the thread's last
// error set (Sys::GetLastError). ReadFile, WriteFile and WaitCommEvent either complete at once
// (true, and the record's event is set) or return false with ERROR_IO_PENDING: the operation is
// then attached to the record's event and completes inside a wait on that event.
class TSerialApi {
public:
    virtual ~TSerialApi() = default;
    virtual HANDLE CreateFile(const std::string& DeviceName) = 0;
    virtual bool GetCommState(HANDLE Device, DCB& Dcb) = 0;
    virtual bool SetCommState(HANDLE Device, const DCB& Dcb) = 0;
    virtual bool SetCommTimeouts(HANDLE Device, const COMMTIMEOUTS& Timeouts) = 0;
    virtual bool SetupComm(HANDLE Device, int32_t InQueue, int32_t OutQueue) = 0;
    virtual bool SetCommMask(HANDLE Device, uint32_t Mask) = 0;
    virtual bool WaitCommEvent(HANDLE Device, uint32_t* Mask, OVERLAPPED* Overlapped) = 0;
    virtual bool ClearCommError(HANDLE Device, uint32_t* Errors, COMSTAT* Stat) = 0;
    virtual bool PurgeComm(HANDLE Device, uint32_t Flags) = 0;
    virtual bool ReadFile(HANDLE Device, void* Buffer, uint32_t Count, uint32_t* Read,
                          OVERLAPPED* Overlapped) = 0;
    virtual bool WriteFile(HANDLE Device, const void* Buffer, uint32_t Count, uint32_t* Written,
                           OVERLAPPED* Overlapped) = 0;
    virtual bool GetOverlappedResult(HANDLE Device, OVERLAPPED* Overlapped, uint32_t* Transferred,
                                     bool Wait) = 0;
    virtual bool CloseHandle(HANDLE Device) = 0;
};

// The layer in use: the termios one unless a test has put another in its place. Api may be
// nullptr to restore the default. Swap only while no port is open.
TSerialApi& SerialApi();
void SetSerialApi(TSerialApi* Api);

// The thread's last error, the platform's way (same as Sys::GetLastError).
inline uint32_t GetLastError() {
    return Sys::GetLastError();
}

// Completes the record of an operation that finished at once: results stored, event set.
void CompleteAtOnce(OVERLAPPED* Overlapped, uint32_t Code, uint32_t Transferred);

}  // namespace Serial
