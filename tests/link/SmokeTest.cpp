#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "device/VaComm.h"
#include "platform/Serial.h"
#include "support/FormHarness.h"
#include "tools/sim/BeaconSimulator.h"

TEST(Smoke, ReadNormalBeacon) {
    zbsim::BeaconOptions options;
    options.program = "PSDabcSQSZ";
    zbsim::BeaconSimulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    FormHarness harness;
    TForm1& form = harness.Start();
    Serial::SetPortMap({{9, sim.DevicePath()}});
    harness.Dialogs.AllowUnscriptedErrors = false;
    form.Com->SetPortNum(9);
    form.Com->Open();
    form.ReadBeacon->click();
    EXPECT_EQ(form.LinkMode, QByteArray("Read"));
    sim.SwitchOn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.Received().find('n') != std::string::npos; }, 5000));
    EXPECT_EQ(form.MemoText(), QByteArray("PSDabcSQSZ"));
    EXPECT_EQ(form.Sequence->count(), 8);
    Serial::SetPortMap({});
}
