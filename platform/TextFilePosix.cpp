// Reading and crash-safe replacement of files on Linux: descriptors, advisory locks, fsync and rename.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>

#include "platform/TextFile.h"

namespace TextFile {

namespace {

// Closes a descriptor on every path out of a function, keeping errno intact.
class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    ~FdGuard() {
        if (fd_ >= 0) {
            const int saved = errno;
            ::close(fd_);
            errno = saved;
        }
    }
    int get() const { return fd_; }
    // Closes now and reports the result (close can report a delayed write error).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// How long a read waits for a writer's exclusive lock before it gives up.
constexpr auto kLockPatience = std::chrono::seconds(1);
constexpr auto kLockRetry = std::chrono::milliseconds(10);

// Takes an advisory lock (LOCK_SH or LOCK_EX). Waits a little for another holder; a file system that
// has no locks is used without one.
bool LockFile(int fd, int operation) {
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return true;  // no locking here (ENOLCK, EOPNOTSUPP...): go on without
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        // flock has no timeout of its own, so the wait for the other holder is a short poll.
        std::this_thread::sleep_for(kLockRetry);
    }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `bytes` over the open file from its start and cuts it to their length, under an exclusive
// lock so that a cooperating reader never sees it half written. The file keeps its inode, and with
// it its owner, mode and every hard link. Not atomic: a write that fails part-way leaves a mix.
bool OverwriteInPlace(FdGuard& fd, const std::string& bytes) {
    if (!LockFile(fd.get(), LOCK_EX)) return false;
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    off_t offset = 0;
    while (left > 0) {
        const ssize_t n = ::pwrite(fd.get(), data, left, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
        offset += n;
    }
    if (::ftruncate(fd.get(), offset) != 0) return false;
    if (::fsync(fd.get()) != 0) return false;
    return fd.Close();
}

// The folder part of a path including its trailing '/', or "" for a bare name.
std::string FolderPrefix(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links until the path names something that is not a link (or nothing yet), so that
// the file a link points to is replaced and the link itself stays.
bool ResolveLinks(const std::string& path, std::string& resolved) {
    std::string current = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            resolved = current;  // a new file, or a dangling link's target, is created
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            resolved = current;
            return true;
        }
        if (hops >= 40) {
            errno = ELOOP;
            return false;
        }
        std::string target(256, '\0');
        for (;;) {
            const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
            if (n < 0) return false;
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (target.empty()) {
            errno = ENOENT;
            return false;
        }
        current = target[0] == '/' ? target : FolderPrefix(current) + target;
    }
}

// Flushes a folder's entries after a rename; best effort, the data itself is already safe.
void SyncFolder(const std::string& prefix) {
    const std::string folder = prefix.empty() ? std::string(".") : prefix;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

ReadResult ReadRegularFile(const std::string& path, std::string& bytes, std::size_t limit, bool sharedLock) {
    bytes.clear();
    if (path.empty()) {
        errno = ENOENT;
        return ReadResult::Missing;
    }
    // Non-blocking open: opening a FIFO for reading would otherwise wait for a writer.
    FdGuard fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return ReadResult::Failed;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return ReadResult::Failed;
    }
    if (sharedLock && !LockFile(fd.get(), LOCK_SH)) return ReadResult::Failed;

    const auto size = static_cast<uint64_t>(st.st_size);
    if (size > limit) return ReadResult::TooLarge;
    // One byte more than the file's size, so that the end is seen by the first read when the size is
    // right; files whose size is not known in advance (some virtual files report 0) grow the buffer.
    const std::size_t ceiling = limit == SIZE_MAX ? SIZE_MAX : limit + 1;
    bytes.resize(static_cast<std::size_t>(size) < ceiling ? static_cast<std::size_t>(size) + 1 : ceiling);
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > limit) return ReadResult::TooLarge;
            const std::size_t grown = got < ceiling / 2 ? std::max<std::size_t>(got * 2, 65536) : ceiling;
            bytes.resize(std::min(grown, ceiling));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadResult::Failed;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return ReadResult::Ok;
}

bool ReplaceFile(const std::string& path, const std::string& bytes) {
    std::string target;
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    if (!ResolveLinks(path, target)) return false;
    const std::string prefix = FolderPrefix(target);
    const std::string name = target.substr(prefix.size());
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return false;
    }

    // Opening the old file for writing asks the system whether this user may write it (permission
    // bits, ACLs, read-only mounts, immutable files). A file that may not be written is never
    // replaced, even where the folder would allow a new file to be renamed over it.
    FdGuard old(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    struct stat oldStat {};
    const bool haveOld = old.get() >= 0;
    if (!haveOld && errno != ENOENT) return false;
    if (haveOld) {
        if (::fstat(old.get(), &oldStat) != 0) return false;
        if (!S_ISREG(oldStat.st_mode)) {
            errno = EINVAL;
            return false;
        }
        // A new file would leave the other names of the old one holding the old bytes.
        if (oldStat.st_nlink > 1) return OverwriteInPlace(old, bytes);
    }

    // The new file is a hidden sibling, so the rename stays within one file system. Its name is cut
    // short enough to stay within the file-name limit whatever the target's name.
    std::string temp;
    int rawFd = -1;
    for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
        temp = prefix + "." + name.substr(0, 200) + "." + TemporarySuffix() + ".tmp";
        // Mode 0666 lets the umask decide the bits of a file created afresh.
        rawFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (rawFd < 0 && errno != EEXIST) {
            // A writable file in a folder this user may not write: written where it stands.
            if (haveOld && (errno == EACCES || errno == EPERM)) return OverwriteInPlace(old, bytes);
            return false;
        }
    }
    if (rawFd < 0) return false;
    FdGuard fd(rawFd);

    const auto discard = [&temp] {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
    };
    const auto fail = [&discard] {
        discard();
        return false;
    };

    if (haveOld) {
        // The new file takes the old one's owner and group, then its mode; the order matters because
        // a change of owner clears the set-id bits. Where the system refuses the owner (an ordinary
        // user writing a file of another user or group), the old file is written where it stands.
        if (::fchown(fd.get(), oldStat.st_uid, oldStat.st_gid) != 0) {
            discard();
            return OverwriteInPlace(old, bytes);
        }
        if (::fchmod(fd.get(), oldStat.st_mode & 07777) != 0) return fail();
    }
    if (!WriteAll(fd.get(), bytes.data(), bytes.size())) return fail();
    if (::fsync(fd.get()) != 0) return fail();
    if (!fd.Close()) return fail();
    if (::rename(temp.c_str(), target.c_str()) != 0) return fail();
    SyncFolder(prefix);
    return true;
}

bool MayWrite(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno == ENOENT;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

}  // namespace TextFile
