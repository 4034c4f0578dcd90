#include "platform/serial/SysError.h"

#include <cerrno>

// The system's headers come after ours: their macros (ERROR_FILE_NOT_FOUND, FormatMessage) would
// otherwise rewrite our declarations.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef FormatMessage

namespace Sys {

uint32_t GetLastError() {
    return ::GetLastError();
}

void SetLastError(uint32_t Code) {
    ::SetLastError(Code);
}

uint32_t CodeFromErrno(int Errno) {
    switch (Errno) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EBUSY:
            return ERROR_BUSY;
        case ENODEV:
        case ENXIO:
            return ERROR_DEV_NOT_EXIST;
        case EAGAIN:
            return ERROR_NOT_ENOUGH_QUOTA;
        default:
            return ERROR_GEN_FAILURE;
    }
}

bool FailFromErrno() {
    SetLastError(CodeFromErrno(errno));
    return false;
}

std::string FormatMessage(uint32_t Code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        Code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        const int bytes =
            ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            message.resize(static_cast<size_t>(bytes));
            ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), bytes, nullptr,
                                  nullptr);
        }
    }
    if (text != nullptr) ::LocalFree(text);
    // The message table ends its texts with a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) message = "Unknown error " + std::to_string(Code);
    return message;
}

bool IsDeviceGone(uint32_t Code) {
    switch (Code) {
        case ERROR_ACCESS_DENIED:         // 5: the driver refuses a handle whose adapter is gone
        case ERROR_BAD_COMMAND:           // 22
        case ERROR_GEN_FAILURE:           // 31
        case ERROR_DEV_NOT_EXIST:         // 55
        case ERROR_DEVICE_NOT_CONNECTED:  // 1167
        case ERROR_DEVICE_REMOVED:        // 1617
            return true;
        default:
            return false;
    }
}

}  // namespace Sys
