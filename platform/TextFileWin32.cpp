// Reading and crash-safe replacement of files on Windows: UTF-16 names, share modes, FlushFileBuffers and
// ReplaceFileW. Every failure leaves the system's error code (GetLastError) and a matching errno.
#include <windows.h>
// The system names its own file replacement ReplaceFile too (a macro for ReplaceFileW); ours keeps its name.
#undef ReplaceFile

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>

#include "platform/FileNames.h"
#include "platform/TextFile.h"

namespace TextFile {

namespace {

// The errno that callers test for a system error code.
int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_DIRECTORY:
            return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

// Reports a failure with the system's code: the thread keeps it, and errno gets its counterpart.
bool Fail(DWORD code) {
    SetLastError(code);
    errno = ErrnoOf(code);
    return false;
}

// Reports the failure that the last system call left.
bool FailWithLastError() {
    return Fail(GetLastError());
}

// Closes a handle on every path out of a function, keeping the thread's error code intact.
class HandleGuard {
public:
    explicit HandleGuard(HANDLE handle) : handle_(handle) {}
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    ~HandleGuard() {
        if (Valid()) {
            const DWORD saved = GetLastError();
            CloseHandle(handle_);
            SetLastError(saved);
        }
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    // Closes now and reports the result.
    bool Close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

// How long a read waits for a writer that holds the file before it gives up.
constexpr auto kLockPatience = std::chrono::seconds(1);
constexpr auto kLockRetry = std::chrono::milliseconds(10);

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr)) return false;
        data += written;
        size -= written;
    }
    return true;
}

// The folder part of a path including its trailing separator, or "" for a bare name.
std::string FolderPrefix(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash != std::string::npos) return path.substr(0, slash + 1);
    // "C:name" names a file in the drive's current folder.
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

// True when the file carries the read-only attribute: such a file is never written, by any user.
bool ReadOnly(const std::wstring& name) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Writes `bytes` over the open file from its start and cuts it to their length. Not atomic: a write that
// fails part-way leaves a mix. Only for a file that may be written in a folder where no new file can be
// made.
bool OverwriteInPlace(HandleGuard& file, const std::string& bytes) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return FailWithLastError();
    if (!WriteAll(file.get(), bytes.data(), bytes.size())) return FailWithLastError();
    if (!SetEndOfFile(file.get())) return FailWithLastError();
    if (!FlushFileBuffers(file.get())) return FailWithLastError();
    if (!file.Close()) return FailWithLastError();
    return true;
}

}  // namespace

ReadResult ReadRegularFile(const std::string& path, std::string& bytes, std::size_t limit, bool sharedLock) {
    bytes.clear();
    if (path.empty()) {
        Fail(ERROR_PATH_NOT_FOUND);
        return ReadResult::Missing;
    }
    const std::wstring name = FileNames::Wide(path);
    // A folder is no file (and the system would not say so when it is opened as one).
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Fail(ERROR_ACCESS_DENIED);
        errno = EISDIR;
        return ReadResult::Failed;
    }
    // A shared read lets other readers in but no writer; a writer that holds the file keeps the read out
    // until it is done, for about a second at most.
    const DWORD share = sharedLock ? FILE_SHARE_READ | FILE_SHARE_DELETE : kShareAll;
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (;;) {
        raw = CreateFileW(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
        if (raw != INVALID_HANDLE_VALUE) break;
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION && sharedLock && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kLockRetry);
            continue;
        }
        Fail(code);
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    HandleGuard file(raw);
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        Fail(ERROR_INVALID_PARAMETER);
        return ReadResult::Failed;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        FailWithLastError();
        return ReadResult::Failed;
    }
    if (static_cast<uint64_t>(size.QuadPart) > limit) return ReadResult::TooLarge;
    // One byte more than the file's size, so that the end is seen by the first read when the size is right.
    const std::size_t ceiling = limit == SIZE_MAX ? SIZE_MAX : limit + 1;
    const auto known = static_cast<std::size_t>(size.QuadPart);
    bytes.resize(known < ceiling ? known + 1 : ceiling);
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > limit) return ReadResult::TooLarge;
            const std::size_t grown = got < ceiling / 2 ? std::max<std::size_t>(got * 2, 65536) : ceiling;
            bytes.resize(std::min(grown, ceiling));
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(file.get(), bytes.data() + got, chunk, &n, nullptr)) {
            FailWithLastError();
            return ReadResult::Failed;
        }
        if (n == 0) break;
        got += n;
    }
    bytes.resize(got);
    return ReadResult::Ok;
}

bool ReplaceFile(const std::string& path, const std::string& bytes) {
    if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    const std::string prefix = FolderPrefix(path);
    const std::string leaf = path.substr(prefix.size());
    if (leaf.empty() || leaf == "." || leaf == "..") return Fail(ERROR_DIRECTORY);
    const std::wstring target = FileNames::Wide(path);
    if (ReadOnly(target)) return Fail(ERROR_ACCESS_DENIED);

    // Opening the old file for writing asks the system whether this user may write it (the read-only
    // attribute, the file's security, a program that holds it). A file that may not be written is never
    // replaced, even where the folder would allow a new file to take its name.
    HandleGuard old(CreateFileW(target.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool haveOld = old.Valid();
    if (!haveOld) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND) return Fail(code);
    } else if (GetFileType(old.get()) != FILE_TYPE_DISK) {
        return Fail(ERROR_INVALID_PARAMETER);
    }

    // The new file is a sibling, so that it replaces the old one within one volume. Its name is cut short
    // enough to stay within the name limit whatever the target's name.
    std::wstring temp;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
        temp = FileNames::Wide(prefix + "." + leaf.substr(0, 200) + "." + TemporarySuffix() + ".tmp");
        raw =
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
            // A writable file in a folder this user may not write: written where it stands.
            if (haveOld && code == ERROR_ACCESS_DENIED) return OverwriteInPlace(old, bytes);
            return Fail(code);
        }
    }
    if (raw == INVALID_HANDLE_VALUE) return FailWithLastError();
    HandleGuard file(raw);

    const auto fail = [&temp, &file] {
        const DWORD code = GetLastError();
        if (file.Valid()) file.Close();
        DeleteFileW(temp.c_str());
        return Fail(code);
    };

    if (!WriteAll(file.get(), bytes.data(), bytes.size())) return fail();
    if (!FlushFileBuffers(file.get())) return fail();
    if (!file.Close()) return fail();
    if (haveOld) {
        // The old file must be closed for ReplaceFileW to take its place.
        old.Close();
        // The new file takes the old one's name, attributes and security; on failure the old file
        // stays as it was.
        if (!ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                          nullptr))
            return fail();
    } else if (!MoveFileExW(temp.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return fail();
    }
    return true;
}

bool MayWrite(const std::string& path) {
    const std::wstring name = FileNames::Wide(path);
    if (ReadOnly(name)) return Fail(ERROR_ACCESS_DENIED);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    const DWORD code = GetLastError();
    Fail(code);
    return code == ERROR_FILE_NOT_FOUND;
}

std::string ErrorText(int error) {
    const DWORD code = GetLastError();
    if (code == ERROR_SUCCESS) return std::strerror(error);
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return std::strerror(error);
    std::wstring message(text, length);
    LocalFree(text);
    // The system's texts end with a line break.
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return FileNames::Narrow(message);
}

}  // namespace TextFile
