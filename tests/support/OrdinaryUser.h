#pragma once
// Runs a piece of a test as an ordinary user, so that permissions and per-user limits apply to it as
// they do to an operator. As root (as in CI) the calling thread takes the identity of the user
// "nobody" (real and effective user and group, no supplementary groups) for the duration of the
// action and then takes its own back; as any other user it simply runs the action. Only the calling
// thread changes: the raw system calls are used because the C library's wrappers change every thread
// of the process.

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

class OrdinaryUser {
public:
    OrdinaryUser() {
        if (::geteuid() != 0) {
            uid_ = ::geteuid();
            gid_ = ::getegid();
            return;
        }
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwnam_r("nobody", &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
            unavailable_ = "no user \"nobody\" here to act as an ordinary user";
            return;
        }
        uid_ = entry.pw_uid;
        gid_ = entry.pw_gid;
        fromRoot_ = true;
    }

    // Empty when Run can act as an ordinary user, else why not (for GTEST_SKIP).
    const std::string& Unavailable() const { return unavailable_; }
    // The user and group that the action runs as; files the action must own are given to them.
    uid_t Uid() const { return uid_; }
    gid_t Gid() const { return gid_; }
    // True when the action runs as another user than the test, who may hand files to others.
    bool FromRoot() const { return fromRoot_; }

    // Runs `action` as the ordinary user. Returns false (and runs nothing) when that cannot be had.
    template <typename F>
    bool Run(F&& action) {
        if (!unavailable_.empty()) return false;
        if (!fromRoot_) {
            action();
            return true;
        }
        const gid_t gid = ::getegid();
        std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
        if (::getgroups(static_cast<int>(groups.size()), groups.data()) < 0) groups.clear();
        const auto restore = [&] {
            const bool ok = ::syscall(SYS_setresuid, 0, 0, 0) == 0 &&
                            ::syscall(SYS_setresgid, gid, gid, gid) == 0 &&
                            ::syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
            if (!ok) ADD_FAILURE() << "could not take the test's identity back: " << std::strerror(errno);
        };
        if (::syscall(SYS_setgroups, 0, nullptr) != 0 || ::syscall(SYS_setresgid, gid_, gid_, gid) != 0 ||
            ::syscall(SYS_setresuid, uid_, uid_, 0) != 0) {
            unavailable_ = std::string("cannot act as \"nobody\": ") + std::strerror(errno);
            restore();
            return false;
        }
        try {
            action();
        } catch (...) {
            restore();
            throw;
        }
        restore();
        return true;
    }

private:
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool fromRoot_ = false;
    std::string unavailable_;
};
