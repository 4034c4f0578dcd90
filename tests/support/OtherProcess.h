#pragma once
// Work done in a second process: as the unprivileged user "nobody" (the tests run as root on CI, so
// an ordinary user's view of the system is had by dropping privileges in a child), or a process that
// holds a device open until the test lets it go.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>

// Runs Work in a child process as the user nobody and returns what it returned; nullopt when this
// process cannot become nobody (not root, or no such user).
inline std::optional<std::string> RunAsNobody(const std::function<std::string()>& Work) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr || ::geteuid() != 0) return std::nullopt;
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        std::string text = "(could not become nobody)";
        if (::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0) text = Work();
        [[maybe_unused]] ssize_t n = ::write(fds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (child > 0) ::waitpid(child, nullptr, 0);
    return text;
}

// A child process that opens Path and takes its lock, as another serial program does (or, without
// Lock, opens it only, as a terminal program may), and keeps it until this object goes.
class DeviceHolder {
public:
    explicit DeviceHolder(const std::string& Path, bool Lock = true) {
        int ready[2], release[2];
        if (::pipe(ready) != 0) return;
        if (::pipe(release) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            // Another program holds nothing else of ours (such as the master side of a test's terminal).
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != ready[1] && fd != release[0]) ::close(fd);
            }
            const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const char ok = fd >= 0 && (!Lock || ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
            char byte;
            while (::read(release[0], &byte, 1) < 0 && errno == EINTR) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char ok = '0';
        while (::read(ready[0], &ok, 1) < 0 && errno == EINTR) {
        }
        ::close(ready[0]);
        holding_ = ok == '1';
    }
    ~DeviceHolder() {
        if (release_ >= 0) ::close(release_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;

    bool Holding() const { return holding_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool holding_ = false;
};
