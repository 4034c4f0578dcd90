#pragma once
// Helpers for tests that work on real files: a private temporary folder, raw byte access, and a way to
// make writes fail that works even for root (a file-size limit). Paths are the file layer's: bytes on
// Linux, UTF-8 on Windows.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <random>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#endif
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <set>
#include <string>

namespace filetest {

#ifdef _WIN32
// The system's name for a path of the file layer (UTF-8 on Windows).
inline std::filesystem::path SystemPath(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}
inline std::string LayerPath(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}
#else
inline std::filesystem::path SystemPath(const std::string& path) {
    return std::filesystem::path(path);
}
inline std::string LayerPath(const std::filesystem::path& path) {
    return path.string();
}
#endif

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
#ifdef _WIN32
    TempDir() {
        const std::string base = LayerPath(std::filesystem::temp_directory_path());
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::string candidate = base + "/zbtest." + std::to_string(random());
            std::error_code error;
            if (std::filesystem::create_directory(SystemPath(candidate), error)) path_ = candidate;
        }
        if (path_.empty()) ADD_FAILURE() << "no temporary folder";
    }
#else
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zbtest.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
#endif
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(SystemPath(path_), ignored);
    }
    const std::string& Path() const {
        return path_;
    }
    std::string operator/(const std::string& name) const {
        return path_ + "/" + name;
    }

    // The names in the folder, so a test can see that no temporary file was left behind.
    std::set<std::string> Entries() const {
        return EntriesOf(path_);
    }
    static std::set<std::string> EntriesOf(const std::string& folder) {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(SystemPath(folder))) {
            names.insert(LayerPath(entry.path().filename()));
        }
        return names;
    }

private:
    std::string path_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(SystemPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(SystemPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "could not write " << path;
}

#ifndef _WIN32
inline mode_t Mode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

inline ino_t Inode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_ino;
}

// While alive, this process cannot write regular files beyond `bytes` bytes: write() fails with EFBIG,
// as it would on a full disk. Root is bound by it too. Keep the scope tight: test output written to a
// file meanwhile is lost.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    bool Active() const { return active_; }

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
    bool active_ = false;
};

// Runs `action`, which reads the FIFO at `fifo`, on a thread of its own and returns its result. Should
// the action block, the test fails and the FIFO gets a writer for a moment, which releases the reader,
// so that a fault shows as a failure rather than a hung test.
template <typename F>
auto WithoutBlocking(const std::string& fifo, F action) -> decltype(action()) {
    auto result = std::async(std::launch::async, action);
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "reading the FIFO " << fifo << " blocked";
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    return result.get();
}

// Sets the umask for a scope.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : saved_(::umask(mask)) {}
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;
    ~UmaskScope() { ::umask(saved_); }

private:
    mode_t saved_;
};

#endif

}  // namespace filetest
