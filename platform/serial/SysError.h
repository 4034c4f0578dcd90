#pragma once
// The last error of the calling thread, in the codes the components report, and its text.
//
// Codes: 2 for a missing device, 6 for an invalid handle, 995 for an operation that was
// cancelled, 996 for an operation that has not completed yet, 997 for an operation that was
// started and completes later. On Linux every other failure carries its errno; on Windows the
// codes are the system's own (SysErrorWin32.cpp), and so are the texts.

#include <cstdint>
#include <string>

namespace Sys {

constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_OPERATION_ABORTED = 995;
constexpr uint32_t ERROR_IO_INCOMPLETE = 996;
constexpr uint32_t ERROR_IO_PENDING = 997;

uint32_t GetLastError();
void SetLastError(uint32_t Code);

// The code for an errno value. ENOENT gives 2 and EBADF gives 6; ENXIO, whose number would read
// as an invalid handle, is reported as ENODEV.
uint32_t CodeFromErrno(int Errno);
// Sets the last error from errno and returns false, for "return Fail();" in platform calls.
bool FailFromErrno();

// The system's text for a code (UTF-8): as strerror gives it for the matching errno on Linux, as
// the system's message table has it on Windows.
std::string FormatMessage(uint32_t Code);

// Whether a failed operation means that the device went away: the adapter was pulled out, or the
// far end of a pseudo-terminal closed (Linux: EIO, ENODEV; Windows: the codes a removed adapter
// gives, from access denied to device removed).
bool IsDeviceGone(uint32_t Code);

}  // namespace Sys
