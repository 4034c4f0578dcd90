// The paced wait: its length, and the events it dispatches while it waits.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>

#include "device/VaComm.h"
#include "platform/Clock.h"
#include "platform/Serial.h"
#include "support/BeaconRig.h"
#include "support/FormHarness.h"
#include "support/PtyPair.h"

namespace {
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

TEST_F(PacedWait, LastsNoLessThanItsUnits) {
    const double one = Seconds(1);
    EXPECT_GE(one, 0.9936);
    EXPECT_LT(one, 1.5);  // generous: the precise figure comes from the benchmark
    const double tenth = Seconds(0.1);
    EXPECT_GE(tenth, 0.09936);
    EXPECT_LT(tenth, 0.6);
    EXPECT_GE(Seconds(0.4), 0.39744);
}

TEST_F(PacedWait, ZeroOrNegativeReturnsAtOnceWithoutDispatching) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    EXPECT_LT(Seconds(0), 0.05);
    EXPECT_LT(Seconds(-1), 0.05);
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
