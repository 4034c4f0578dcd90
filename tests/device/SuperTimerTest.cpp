// The countdown timer: one-shot stop, counting up, changes while running, and its end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "device/SuperTimer.h"
#include "platform/Clock.h"

namespace {

int64_t NowMs() {
    return Clock::MonotonicNs() / 1000000;
}

TEST(SuperTimer, DefaultsAndQuietSetters) {
    TSuperTimer timer;
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000);
    EXPECT_EQ(timer.ThreadPriority(), tpHigher);
    EXPECT_FALSE(timer.CountDown());
    EXPECT_EQ(timer.Time(), 0);
    EXPECT_EQ(timer.StopTicks(), -1);
    timer.SetEnabled(false);  // the current value: nothing happens
    EXPECT_FALSE(timer.Enabled());
}

TEST(SuperTimer, CountdownStopsOnceAboutOneIntervalAfterEachEnabling) {
    TSuperTimer timer;
    timer.SetInterval(200);
    timer.SetCountDown(true);
    std::vector<int64_t> stops;
    int ticks = 0;
    bool enabledInsideStop = true;
    bool onGuiThread = true;
    timer.OnTimer = [&](TObject*) { ++ticks; };
    timer.OnStop = [&](TObject* sender) {
        EXPECT_EQ(sender, &timer);
        onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        enabledInsideStop = timer.Enabled();
        stops.push_back(NowMs());
    };

    int64_t enabledAt = NowMs();
    timer.SetEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stops.size() == 1; }, 5000));
    EXPECT_GE(stops[0] - enabledAt, 199);
    EXPECT_LT(stops[0] - enabledAt, 2000);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(enabledInsideStop);
    EXPECT_TRUE(onGuiThread);
    EXPECT_LE(timer.Time(), -199);

    enabledAt = NowMs();
    timer.SetEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stops.size() == 2; }, 5000));
    EXPECT_GE(stops[1] - enabledAt, 199);
    EXPECT_LT(stops[1] - enabledAt, 2000);
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(timer.Enabled());
    // Disabled timers stay silent.
    QTest::qWait(450);
    EXPECT_EQ(stops.size(), 2u);
    EXPECT_EQ(ticks, 2);
}

TEST(SuperTimer, CountingUpTicksOnWithGrowingTicks) {
    TSuperTimer timer;
    timer.SetInterval(40);
    std::vector<int32_t> seen;
    int stops = 0;
    timer.OnTimer = [&](TObject*) { seen.push_back(timer.Ticks()); };
    timer.OnStop = [&](TObject*) { ++stops; };
    timer.SetEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 5; }, 5000));
    timer.SetEnabled(false);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_GT(seen[i], seen[i - 1]);
    EXPECT_GE(seen.front(), 1);
    EXPECT_GE(timer.Time(), 5 * 40);
    EXPECT_EQ(stops, 0);  // StopTicks -1: counting up never stops by itself
}

// After each tick's hand-off the worker sleeps Interval - 50 ms before it watches for the next tick,
// so a handler that runs longer than 50 ms makes the next tick late by the excess.
TEST(SuperTimer, AHandlerLongerThanFiftyMillisecondsDelaysTheNextTickByTheExcess) {
    TSuperTimer timer;
    timer.SetInterval(200);
    std::vector<int64_t> starts;
    timer.OnTimer = [&](TObject*) {
        starts.push_back(NowMs());
        std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the handler's own work
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return starts.size() >= 3; }, 10000));
    timer.SetEnabled(false);
    for (size_t i = 1; i < 3; ++i)
        EXPECT_GE(starts[i] - starts[i - 1], 200 + 120 - 50) << "tick " << i;
}

TEST(SuperTimer, CountingUpStopsAtStopTicks) {
    TSuperTimer timer;
    timer.SetInterval(30);
    timer.SetStopTicks(3);
    int stops = 0;
    timer.OnStop = [&](TObject*) { ++stops; };
    timer.SetEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stops == 1; }, 5000));
    EXPECT_GE(timer.Ticks(), 3);
    EXPECT_FALSE(timer.Enabled());
}

TEST(SuperTimer, IntervalZeroDisablesAndCannotBeEnabled) {
    TSuperTimer timer;
    timer.SetInterval(50);
    timer.SetEnabled(true);
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Enabled());
    int ticks = 0;
    timer.OnTimer = [&](TObject*) { ++ticks; };
    timer.SetEnabled(true);  // nothing to time: stays disabled, no fault
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Ticks(), 0);
    QTest::qWait(150);
    EXPECT_EQ(ticks, 0);
}

TEST(SuperTimer, ChangingDirectionKeepsTimeContinuous) {
    TSuperTimer timer;
    timer.SetInterval(100);
    std::vector<int32_t> times;
    timer.OnTimer = [&](TObject*) { times.push_back(timer.Time()); };
    timer.SetEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return times.size() == 2; }, 5000));
    QTest::qWait(50);
    const int64_t switchedAt = NowMs();
    timer.SetCountDown(true);
    const int32_t atSwitch = timer.Time();
    EXPECT_GE(atSwitch, times.back() + 40);  // brought to the present, not left at the last tick
    ASSERT_TRUE(QTest::qWaitFor([&] { return times.size() == 3; }, 5000));
    const int64_t sinceSwitch = NowMs() - switchedAt;
    EXPECT_LE(times[2], atSwitch);
    EXPECT_GE(times[2], atSwitch - sinceSwitch - 5);
    timer.SetEnabled(false);
}

TEST(SuperTimer, EnablingAgainWhileRunningKeepsTheSchedule) {
    TSuperTimer timer;
    timer.SetInterval(300);
    std::vector<int32_t> times;
    timer.OnTimer = [&](TObject*) { times.push_back(timer.Time()); };
    timer.SetEnabled(true);
    QTest::qWait(150);
    timer.SetEnabled(true);  // no restart: the first tick still counts from the first enabling
    ASSERT_TRUE(QTest::qWaitFor([&] { return !times.empty(); }, 5000));
    EXPECT_GE(times[0], 299);
    timer.SetEnabled(false);
}

TEST(SuperTimer, DestroyingARunningTimerEndsQuietly) {
    int ticks = 0;
    {
        auto timer = std::make_unique<TSuperTimer>();
        timer->SetInterval(5);
        timer->OnTimer = [&](TObject*) { ++ticks; };
        timer->SetEnabled(true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 5000));
        // The worker now waits in a hand-off that the GUI thread has not run.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (TThread::QueuedHandOffs() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GT(TThread::QueuedHandOffs(), 0);
    }
    const int atDestruction = ticks;
    ASSERT_TRUE(QTest::qWaitFor([] { return TThread::QueuedHandOffs() == 0; }, 5000));
    EXPECT_EQ(ticks, atDestruction);

    // A timer that never ran ends as well.
    { TSuperTimer idle; }
}

TEST(SuperTimer, PriorityCanChangeWhileRunning) {
    TSuperTimer timer;
    timer.SetInterval(20);
    int ticks = 0;
    timer.OnTimer = [&](TObject*) { ++ticks; };
    timer.SetEnabled(true);
    timer.SetThreadPriority(tpLowest);
    EXPECT_EQ(timer.ThreadPriority(), tpLowest);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 5000));
}

}  // namespace
