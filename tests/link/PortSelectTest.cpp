// Choosing the serial port in the Comm submenu, against pseudo-terminals named in the port map.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QPushButton>
#include <QTest>

#include "device/VaComm.h"
#include "platform/Clock.h"
#include "platform/IniFile.h"
#include "platform/Serial.h"
#include "support/FormHarness.h"
#include "support/PtyPair.h"

namespace {

class PortChoice : public ::testing::Test {
protected:
    void SetUp() override {
        form = &harness.Start();
        std::map<int, std::string> ports;
        for (int n = 1; n <= 4; ++n)
            ports[n] = ptys[n - 1].SlavePath();
        ports[7] = ptys[4].SlavePath();
        Serial::SetPortMap(ports);
    }
    void TearDown() override { Serial::SetPortMap({}); }

    // Data written at the far end of `pty` reaches the dialogue.
    bool Delivers(PtyPair& pty) {
        form->Engine->SetReceivedText({});
        if (!pty.Write("ping")) return false;
        return QTest::qWaitFor([&] { return form->Engine->ReceivedText() == "ping"; }, 5000);
    }

    FormHarness harness;
    TForm1* form = nullptr;
    PtyPair ptys[5];
};

}  // namespace

TEST_F(PortChoice, NumberedItemsCloseWaitAndOpenTheirPort) {
    const int64_t start = Clock::MonotonicNs();
    form->COM2->trigger();
    EXPECT_GE((Clock::MonotonicNs() - start) / 1e9, 0.99);  // the pause between close and open
    EXPECT_TRUE(form->COM2->isChecked());
    EXPECT_EQ(form->CommPortGroup->checkedAction(), form->COM2);
    EXPECT_EQ(form->Com->PortNum(), 2);
    EXPECT_TRUE(form->Com->IsOpen());
    EXPECT_TRUE(Delivers(ptys[1]));

    form->COM4->trigger();
    EXPECT_EQ(form->Com->PortNum(), 4);
    EXPECT_TRUE(Delivers(ptys[3]));
    EXPECT_FALSE(form->COM2->isChecked());

    // The port in use is closed and opened again.
    form->COM4->trigger();
    EXPECT_TRUE(form->Com->IsOpen());
    EXPECT_TRUE(Delivers(ptys[3]));

    form->Com0->trigger();
    EXPECT_EQ(form->Com->PortNum(), 0);
    EXPECT_FALSE(form->Com->IsOpen());
    EXPECT_TRUE(form->Com0->isChecked());
}

TEST_F(PortChoice, CustomNumberOpensThatPortAndShowsTheEntry) {
    form->COM1->trigger();
    harness.Dialogs.InputAnswers.enqueue(QString("7"));
    form->CustomPort->trigger();
    EXPECT_EQ(harness.Dialogs.Log.last().Title, "Custom Com Port");
    EXPECT_EQ(harness.Dialogs.Log.last().Text, "Port number: ");
    EXPECT_EQ(harness.Dialogs.InputInitialValues.last(), "1");  // the current port number
    EXPECT_EQ(form->Com->PortNum(), 7);
    EXPECT_EQ(form->CustomPort->text(), "COM 7");
    EXPECT_TRUE(form->CustomPort->isChecked());
    EXPECT_TRUE(Delivers(ptys[4]));
    // Another item sets the caption back.
    form->COM3->trigger();
    EXPECT_EQ(form->CustomPort->text(), "Custom ...");
    harness.Dialogs.InputAnswers.enqueue(QString("7"));
    form->CustomPort->trigger();
    form->Com0->trigger();
    EXPECT_EQ(form->CustomPort->text(), "Custom ...");
    // After a restart the stored custom port is ticked again under its designed caption.
    harness.Dialogs.InputAnswers.enqueue(QString("7"));
    form->CustomPort->trigger();
    ASSERT_TRUE(harness.Close());
    TIniFile(harness.PathOf("zbeacon.ini").toStdString()).WriteString("Ports", "COM7", ptys[4].SlavePath());
    harness.Destroy();
    TForm1& again = harness.Start();
    EXPECT_TRUE(again.Com->IsOpen());
    EXPECT_TRUE(again.CustomPort->isChecked());
    EXPECT_EQ(again.CustomPort->text(), "Custom ...");
    EXPECT_EQ(again.Com->PortNum(), 7);
}

TEST_F(PortChoice, CustomEntryThatIsNoNumberChoosesNoPort) {
    harness.Dialogs.AllowUnscriptedErrors = true;
    harness.Dialogs.InputAnswers.enqueue(QString("abc"));
    form->CustomPort->trigger();
    EXPECT_EQ(form->Com->PortNum(), 0);
    EXPECT_EQ(form->CustomPort->text(), "COM abc");
    EXPECT_TRUE(form->CustomPort->isChecked());
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Invalid port number (COM0)"});
    form->ReadBeacon->click();
    EXPECT_EQ(form->TellCaption(), "Select Comm Port");
}

TEST_F(PortChoice, CancelledCustomEntryLeavesThePortClosed) {
    form->COM2->trigger();
    harness.Dialogs.InputAnswers.enqueue(std::nullopt);
    form->CustomPort->trigger();
    EXPECT_FALSE(form->Com->IsOpen());
    EXPECT_TRUE(form->CustomPort->isChecked());
    EXPECT_EQ(form->Com->PortNum(), 2);
    EXPECT_EQ(form->CustomPort->text(), "Custom ...");
}

TEST_F(PortChoice, NegativeCustomNumberFailsToOpenButStillCounts) {
    harness.Dialogs.AllowUnscriptedErrors = true;
    harness.Dialogs.InputAnswers.enqueue(QString("-3"));
    form->CustomPort->trigger();
    EXPECT_EQ(form->Com->PortNum(), -3);
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Invalid port number (COM-3)"});
    form->ProgramBeacon->click();
    EXPECT_EQ(form->Engine->ModeName(), QByteArray("Program"));  // a port is chosen, though not open
    TForm1& again = harness.Restart();
    EXPECT_FALSE(again.Com->IsOpen());
    EXPECT_TRUE(again.Com0->isChecked());
}

TEST_F(PortChoice, AMissingDeviceShowsItsErrorAndKeepsTheChoice) {
    Serial::SetPortMap({{3, harness.PathOf("gone").toStdString()}});
    harness.Dialogs.AllowUnscriptedErrors = true;
    form->COM3->trigger();
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Invalid port number (COM3)"});
    EXPECT_TRUE(form->COM3->isChecked());
    EXPECT_EQ(form->Com->PortNum(), 3);
    EXPECT_FALSE(form->Com->IsOpen());
}

TEST_F(PortChoice, AnAmpersandInTheEntryIsShownNotTakenAsAnAccessKey) {
    harness.Dialogs.AllowUnscriptedErrors = true;
    harness.Dialogs.InputAnswers.enqueue(QString("5&"));
    form->CustomPort->trigger();
    EXPECT_EQ(form->CustomPort->text(), "COM 5&&");
    EXPECT_EQ(form->CustomPort->iconText(), "COM 5&");
}
