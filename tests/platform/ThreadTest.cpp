// The thread base: the blocking hand-off to the GUI thread, termination, self-deleting threads
// and priorities.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "platform/Thread.h"

namespace {

// A thread that runs a given body.
class TBodyThread : public TThread {
public:
    explicit TBodyThread(std::function<void(TBodyThread&)> Body) : body_(std::move(Body)) {}
    ~TBodyThread() override { TerminateAndWait(); }
    using TThread::Synchronize;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(TBodyThread&)> body_;
};

bool WaitWithoutEvents(const std::function<bool()>& Done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The priority of the calling thread as the system reports it, and what a priority should read as.
#ifdef _WIN32
int SystemPriority() {
    return GetThreadPriority(GetCurrentThread());
}
int Expected(TThreadPriority Priority) {
    return Priority == tpIdle ? THREAD_PRIORITY_IDLE : THREAD_PRIORITY_BELOW_NORMAL;
}
#else
int SystemPriority() {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}
int Expected(TThreadPriority Priority) {
    return NicenessOf(Priority);
}
#endif

bool OnGuiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

TEST(Thread, SynchronizeRunsOnTheGuiThreadAndWaitsForIt) {
    std::atomic<int> order{0};
    bool ranOnGui = false;
    std::atomic<bool> returned{false};
    TBodyThread worker([&](TBodyThread& self) {
        self.Synchronize([&] {
            ranOnGui = OnGuiThread();
            order = 1;
        });
        if (order == 1) order = 2;
        returned = true;
    });
    worker.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
    EXPECT_TRUE(ranOnGui);
    EXPECT_EQ(order, 2);
    worker.WaitFor();
    EXPECT_TRUE(worker.Finished());
}

TEST(Thread, ErrorsOfTheRoutineAreRaisedInTheWorker) {
    std::string caught;
    TBodyThread worker([&](TBodyThread& self) {
        try {
            self.Synchronize([] { throw std::runtime_error("from the GUI thread"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        throw std::logic_error("body failed");
    });
    worker.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.Finished(); }, 5000));
    EXPECT_EQ(caught, "from the GUI thread");
    ASSERT_TRUE(worker.FatalException());
    EXPECT_THROW(std::rethrow_exception(worker.FatalException()), std::logic_error);
}

TEST(Thread, HandOffsRunInsideNestedEventLoopsAndDirectlyOnTheGuiThread) {
    std::atomic<bool> ran{false};
    TBodyThread worker([&](TBodyThread& self) { self.Synchronize([&] { ran = true; }); });
    QEventLoop nested;
    QTimer::singleShot(0, [&] { worker.Start(); });
    QTimer::singleShot(5000, &nested, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (ran) nested.quit();
    });
    poll.start(1);
    nested.exec();
    EXPECT_TRUE(ran);

    bool direct = false;
    TThread::Synchronize(nullptr, [&] { direct = OnGuiThread(); });  // on the GUI thread: at once
    EXPECT_TRUE(direct);
}

TEST(Thread, TerminateCancelsAQueuedHandOffAndRefusesLaterOnes) {
    std::atomic<int> runs{0};
    std::atomic<bool> second{false};
    TBodyThread worker([&](TBodyThread& self) {
        self.Synchronize([&] { ++runs; });
        self.Synchronize([&] { ++runs; });  // terminated by now: refused
        second = true;
    });
    worker.Start();
    ASSERT_TRUE(WaitWithoutEvents([] { return TThread::QueuedHandOffs() > 0; }));
    worker.Terminate();
    worker.WaitFor();  // the GUI thread can wait: the worker is no longer blocked
    EXPECT_TRUE(second);
    ASSERT_TRUE(QTest::qWaitFor([] { return TThread::QueuedHandOffs() == 0; }, 5000));
    EXPECT_EQ(runs, 0);
}

TEST(Thread, DestroyingAThreadThatWaitsInAHandOffDoesNotHang) {
    std::atomic<bool> ran{false};
    {
        TBodyThread worker([&](TBodyThread& self) { self.Synchronize([&] { ran = true; }); });
        worker.Start();
        ASSERT_TRUE(WaitWithoutEvents([] { return TThread::QueuedHandOffs() > 0; }));
    }
    ASSERT_TRUE(QTest::qWaitFor([] { return TThread::QueuedHandOffs() == 0; }, 5000));
    EXPECT_FALSE(ran);
}

class TSelfDeleting : public TThread {
public:
    explicit TSelfDeleting(std::atomic<int>& Deleted) : deleted_(Deleted) { SetFreeOnTerminate(true); }
    ~TSelfDeleting() override { ++deleted_; }

protected:
    void Execute() override {
        while (!Terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    std::atomic<int>& deleted_;
};

TEST(Thread, FreeOnTerminateThreadsDeleteThemselvesAndCanBeAwaited) {
    std::atomic<int> deleted{0};
    for (int i = 0; i < 3; ++i) {
        auto* t = new TSelfDeleting(deleted);
        t->Start();
        t->Terminate();
    }
    TThread::WaitForFreeThreads();
    EXPECT_EQ(deleted, 3);
    EXPECT_EQ(TThread::RunningFreeThreads(), 0);
}

TEST(Thread, PriorityIsAppliedAtStartAndWhileRunning) {
    std::atomic<int> phase{0};
    std::atomic<int> atStart{99}, later{99};
    TBodyThread worker([&](TBodyThread&) {
        atStart = SystemPriority();
        phase = 1;
        while (phase != 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        later = SystemPriority();
    });
    worker.SetPriority(tpLower);
    worker.Start();
    ASSERT_TRUE(WaitWithoutEvents([&] { return phase == 1; }));
    worker.SetPriority(tpIdle);
    phase = 2;
    worker.WaitFor();
    EXPECT_EQ(atStart, Expected(tpLower));
    EXPECT_EQ(later, Expected(tpIdle));
    EXPECT_EQ(worker.Priority(), tpIdle);
}

}  // namespace
