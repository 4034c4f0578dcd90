#include "support/PtyPair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << strerror(errno);
        CloseMaster();
        return;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        ADD_FAILURE() << "ptsname_r: " << strerror(errno);
        CloseMaster();
        return;
    }
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
}

bool PtyPair::Write(const std::string& Data) {
    size_t done = 0;
    while (done < Data.size()) {
        ssize_t n = ::write(master_, Data.data() + done, Data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return false;
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0) return false;
            continue;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string PtyPair::Read(size_t Count, int TimeoutMs) {
    std::string data;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (data.size() < Count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, Count - data.size()));
        if (n > 0) data.append(buffer, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    return data;
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}
