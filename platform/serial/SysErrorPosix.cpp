#include "platform/serial/SysError.h"

#include <cerrno>
#include <cstring>

namespace Sys {
namespace {
thread_local uint32_t lastError = ERROR_SUCCESS;

std::string ErrnoText(int Errno) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in the buffer.
    return std::string(strerror_r(Errno, buffer, sizeof buffer));
}
}  // namespace

uint32_t GetLastError() {
    return lastError;
}
void SetLastError(uint32_t Code) {
    lastError = Code;
}

uint32_t CodeFromErrno(int Errno) {
    switch (Errno) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENXIO:
            return ENODEV;
        default:
            return static_cast<uint32_t>(Errno);
    }
}

bool FailFromErrno() {
    SetLastError(CodeFromErrno(errno));
    return false;
}

std::string FormatMessage(uint32_t Code) {
    switch (Code) {
        case ERROR_FILE_NOT_FOUND:
            return ErrnoText(ENOENT);
        case ERROR_INVALID_HANDLE:
            return ErrnoText(EBADF);
        case ERROR_OPERATION_ABORTED:
            return ErrnoText(ECANCELED);
        case ERROR_IO_INCOMPLETE:
            return ErrnoText(EALREADY);
        case ERROR_IO_PENDING:
            return ErrnoText(EINPROGRESS);
        default:
            return ErrnoText(static_cast<int>(Code));
    }
}

bool IsDeviceGone(uint32_t Code) {
    return Code == CodeFromErrno(EIO) || Code == CodeFromErrno(ENODEV);
}

}  // namespace Sys
