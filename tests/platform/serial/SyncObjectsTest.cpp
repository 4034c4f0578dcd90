// Events and the started operations that waits on them drive.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/Clock.h"
#include "platform/serial/SyncObjects.h"
#include "platform/serial/SysError.h"

using namespace Sync;

namespace {

int64_t ElapsedMs(int64_t StartNs) {
    return (Clock::MonotonicNs() - StartNs) / 1000000;
}

TEST(SyncEvent, ManualAndAutomaticReset) {
    TEventObject manual(true, false);
    EXPECT_EQ(manual.Wait(0), WAIT_TIMEOUT);
    manual.Set();
    EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);  // stays signalled
    manual.Reset();
    int64_t start = Clock::MonotonicNs();
    EXPECT_EQ(manual.Wait(50), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 49);

    TEventObject automatic(false, true);
    EXPECT_EQ(automatic.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(automatic.Wait(0), WAIT_TIMEOUT);  // taken by the first wait

    // Another thread's Set ends a wait without limit.
    std::thread setter([&] { manual.Set(); });
    EXPECT_EQ(WaitForSingleObject(&manual, INFINITE), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(Sys::GetLastError(), Sys::ERROR_INVALID_HANDLE);
}

// An operation that completes when its eventfd is written.
class TTestOp : public TOverlappedOp {
public:
    TTestOp(int Fd, std::atomic<int>& Cancels, std::atomic<int>& Completions)
        : fd_(Fd), cancels_(Cancels), completions_(Completions) {}
    bool Prepare(std::vector<pollfd>& Fds, int64_t&) override {
        Fds.push_back(pollfd{fd_, POLLIN, 0});
        return false;
    }
    bool Advance(const pollfd* Fds, int64_t) override {
        uint64_t value;
        if ((Fds[0].revents & POLLIN) == 0 || ::read(fd_, &value, sizeof value) <= 0) return false;
        ++completions_;
        return true;
    }
    void Cancel() override { ++cancels_; }

private:
    int fd_;
    std::atomic<int>& cancels_;
    std::atomic<int>& completions_;
};

TEST(SyncEvent, WaitsDriveStartedOperationsAndCancelThemWhenTheyGiveUp) {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::atomic<int> cancels{0}, completions{0};
    TEventObject event(true, false);

    // Completion: the wait returns signalled and the event stays set.
    event.Attach(std::make_unique<TTestOp>(fd, cancels, completions));
    std::thread completer([&] {
        uint64_t one = 1;
        EXPECT_EQ(::write(fd, &one, sizeof one), 8);
    });
    EXPECT_EQ(event.Wait(INFINITE), WAIT_OBJECT_0);
    completer.join();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(event.HasOperation());
    EXPECT_TRUE(event.IsSignalled());

    // Time-out: the operation is cancelled before the wait returns.
    event.Reset();
    event.Attach(std::make_unique<TTestOp>(fd, cancels, completions));
    int64_t start = Clock::MonotonicNs();
    EXPECT_EQ(event.Wait(40), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 39);
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(event.HasOperation());

    // Set by someone else: the wait ends signalled and gives the operation up.
    event.Attach(std::make_unique<TTestOp>(fd, cancels, completions));
    std::thread setter([&] { event.Set(); });
    EXPECT_EQ(event.Wait(INFINITE), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(cancels, 2);
    EXPECT_EQ(completions, 1);
    ::close(fd);
}

}  // namespace
