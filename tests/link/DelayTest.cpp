// The paced wait: its length, and the events it dispatches while it waits.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "device/VaComm.h"
#include "platform/Clock.h"
#include "platform/EventLoopWait.h"
#include "platform/serial/Serial.h"
#include "support/BeaconRig.h"
#include "support/FormHarness.h"
#include "support/PtyPair.h"

namespace {
// A clock on which time passes at once: every wait ends at its deadline without sleeping, and its
// length is recorded.
class RecordingClock : public EventLoopWait::TClock {
public:
    int64_t NowNs() override { return now; }
    bool WaitUntil(int64_t deadlineNs) override {
        waits.push_back(deadlineNs - now);
        now = std::max(now, deadlineNs);
        return true;
    }
    int64_t now = 1000000000000;
    std::vector<int64_t> waits;
};

class PacedWait : public ::testing::Test {
protected:
    void SetUp() override { form = &harness.Start(); }
    double Seconds(double units) {
        const int64_t start = Clock::MonotonicNs();
        form->Delay(units);
        return (Clock::MonotonicNs() - start) / 1e9;
    }
    FormHarness harness;
    TForm1* form = nullptr;
};
}  // namespace

// The lengths themselves, on a clock that lets time pass at once: one unit is 0.9936 s, not 1 s, and
// the upload waits a tenth of it after each character it sends.
TEST_F(PacedWait, UnitsAndTheUploadPaceOnTheClock) {
    RecordingClock clock;
    EventLoopWait::TUseClock use(clock);
    for (double units : {1.0, 0.5, 0.4, 0.1, 0.0, -1.0})
        form->Delay(units);
    EXPECT_EQ(clock.waits, (std::vector<int64_t>{993600000, 496800000, 397440000, 99360000, 0, -993600000}));

    PtyPair pty;
    Serial::SetPortMap({{5, pty.SlavePath()}});
    form->Com->SetPortNum(5);
    form->Com->Open();
    form->SetMemoText("PSDab");
    form->Engine->SetMode(LinkMode::Program);
    clock.waits.clear();
    form->SendXStop(nullptr);
    EXPECT_EQ(pty.Read(5), "PSDab");
    EXPECT_EQ(clock.waits, std::vector<int64_t>(5, 99360000));
    form->Com->Close();
    Serial::SetPortMap({});
}

// On the real clock a wait never ends early (how late it ends is measured by the benchmark).
TEST_F(PacedWait, LastsNoLessThanItsUnits) {
    EXPECT_GE(Seconds(1), 0.9936);
    EXPECT_GE(Seconds(0.1), 0.09936);
    EXPECT_GE(Seconds(0.4), 0.39744);
}

TEST_F(PacedWait, ZeroOrNegativeReturnsAtOnceWithoutDispatching) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    form->Delay(0);
    form->Delay(-1);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST_F(PacedWait, RunsPendingEventsAndButtonPressesBeforeItEnds) {
    bool timerRan = false;
    bool clicked = false;
    QTimer::singleShot(30, [&] { timerRan = true; });
    QObject::connect(form->Button1, &QPushButton::clicked, [&] { clicked = true; });
    QMetaObject::invokeMethod(form->Button1, "click", Qt::QueuedConnection);
    form->Delay(0.2);
    EXPECT_TRUE(timerRan);
    EXPECT_TRUE(clicked);
}

TEST_F(PacedWait, NestedWaitsEachKeepTheirDeadline) {
    double inner = 0;
    QTimer::singleShot(10, [&] { inner = Seconds(0.3); });
    const double cpuBefore = ProcessCpuSeconds();
    const double outer = Seconds(0.1);
    EXPECT_GE(inner, 0.298);
    EXPECT_GE(outer, 0.3);  // the outer wait resumes only after the nested one returned
    // The outer wait's deadline passes while the nested one sleeps: that must not wake it over and over.
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.15);
}

TEST_F(PacedWait, SerialDataIsHandledDuringTheWait) {
    PtyPair pty;
    Serial::SetPortMap({{5, pty.SlavePath()}});
    form->Com->SetPortNum(5);
    form->Com->Open();
    QTimer::singleShot(50, [&] { pty.Write("during the pause"); });
    QByteArray seenInside;
    QTimer::singleShot(400, [&] { seenInside = form->Engine->ReceivedText(); });
    form->Delay(0.5);
    EXPECT_EQ(seenInside, QByteArray("during the pause"));
    form->Com->Close();
    Serial::SetPortMap({});
}

// The program starts quitting during a pause (its main window was closed): the pause still lasts its
// full time, so no pause between two characters sent to the beacon is lost.
TEST_F(PacedWait, KeepsItsLengthWhileTheProgramQuits) {
    double waited = 0;
    QTimer::singleShot(0, [&] { waited = Seconds(0.3); });
    QTimer::singleShot(50, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_GE(waited, 0.298);
}
