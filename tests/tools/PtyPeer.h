#pragma once
// The tool's end of the simulator's pseudo-terminal in tests: a plain descriptor on the slave device
// in raw mode, with waits on the actual data (poll with a generous deadline, never a fixed sleep).

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zbsim_test {

using namespace std::chrono_literals;

inline int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// CPU time used by the whole process, for checking that nothing spins while idle.
inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class PtyPeer {
public:
    struct Read {
        int64_t timeNs;
        std::string bytes;
    };

    explicit PtyPeer(const std::string& path) { Open(path); }
    ~PtyPeer() { Close(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Open(const std::string& path) {
        Close();
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return false;
        termios tio{};
        if (tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
        return true;
    }
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Drops whatever is waiting for us, as a serial port does when it is opened.
    void Purge() { tcflush(fd_, TCIOFLUSH); }

    bool Send(std::string_view bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                if (::poll(&p, 1, 5000) <= 0) return false;
            } else if (!(n < 0 && errno == EINTR)) {
                return false;
            }
        }
        return true;
    }

    // Reads until `needle` appears after the cursor; then moves the cursor past it.
    // False on time-out, hang-up or error.
    bool Expect(std::string_view needle, std::chrono::milliseconds timeout = 10s) {
        const int64_t deadline = SteadyNs() + std::chrono::nanoseconds(timeout).count();
        for (;;) {
            const size_t at = data_.find(needle, cursor_);
            if (at != std::string::npos) {
                cursor_ = at + needle.size();
                return true;
            }
            const int64_t left = deadline - SteadyNs();
            if (left <= 0 || !ReadSome(static_cast<int>(left / 1'000'000) + 1)) return false;
        }
    }

    // Waits for one poll() result other than plain readable data; returns its revents (0 on time-out).
    short WaitForHangUp(std::chrono::milliseconds timeout = 10s) {
        const int64_t deadline = SteadyNs() + std::chrono::nanoseconds(timeout).count();
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            const int64_t left = deadline - SteadyNs();
            if (left <= 0) return 0;
            const int r = ::poll(&p, 1, static_cast<int>(left / 1'000'000) + 1);
            if (r <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return p.revents;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                data_.append(buffer, static_cast<size_t>(n));
                continue;
            }
            // Readable but nothing to read: end of file or an error is the hang-up seen by read().
            if (n == 0 || errno != EAGAIN) return POLLHUP;
        }
    }

    const std::string& Data() const { return data_; }
    std::string Unread() const { return data_.substr(cursor_); }
    const std::vector<Read>& Reads() const { return reads_; }

private:
    bool ReadSome(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0) return errno == EINTR;
        if (r == 0) return true;
        if (p.revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                data_.append(buffer, static_cast<size_t>(n));
                reads_.push_back(Read{SteadyNs(), std::string(buffer, static_cast<size_t>(n))});
                return true;
            }
            if (n < 0 && errno == EAGAIN) return true;
            return false;
        }
        return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
    }

    int fd_ = -1;
    std::string data_;
    size_t cursor_ = 0;
    std::vector<Read> reads_;
};

}  // namespace zbsim_test
