// Choosing the serial port in the Comm submenu, against pseudo-terminals named in the port map.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "device/VaComm.h"
#include "platform/Clock.h"
#include "platform/IniFile.h"
#include "platform/serial/Serial.h"
#include "support/FakePortList.h"
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

    // The ticked item of the Comm submenu.
    QAction* Ticked() const { return form->CommPortGroup->checkedAction(); }
    // Opens the Comm submenu's list of devices as the menu does when it opens.
    void OpenCommMenu() { emit form->CommPort1->aboutToShow(); }
    std::string StoredPort(const std::string& key) {
        return TIniFile(harness.PathOf("zbeacon.ini").toStdString()).ReadString("Ports", key, "(none)");
    }

    FakePortList devices;  // before the harness: the window lists these from its start on
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
    EXPECT_EQ(harness.Dialogs.Log.last().Text, "Port number or device path");
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
    // After a restart the stored custom port is ticked again; [Ports] names its device, which the item
    // shows.
    harness.Dialogs.InputAnswers.enqueue(QString("7"));
    form->CustomPort->trigger();
    ASSERT_TRUE(harness.Close());
    TIniFile(harness.PathOf("zbeacon.ini").toStdString()).WriteString("Ports", "COM7", ptys[4].SlavePath());
    harness.Destroy();
    TForm1& again = harness.Start();
    EXPECT_TRUE(again.Com->IsOpen());
    EXPECT_TRUE(again.CustomPort->isChecked());
    EXPECT_EQ(again.CustomPort->text(), QString::fromStdString("COM 7 (" + ptys[4].SlavePath() + ")"));
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
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Invalid port number (COM3)\n" + harness.PathOf("gone") +
                                                  ": not connected. Plug the adapter in."});
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

// A second choice that lands while another one pauses (here through a zero-length timer, as any event
// of the pause could) decides alone: its tick, its port and its number agree, and no error box shows.
TEST_F(PortChoice, AChoiceMadeDuringAnothersPauseReplacesIt) {
    auto during = [](QAction* first, QAction* second) {
        QTimer::singleShot(0, second, &QAction::trigger);
        first->trigger();
    };
    during(form->COM1, form->Com0);
    EXPECT_EQ(Ticked(), form->Com0);
    EXPECT_FALSE(form->Com->IsOpen());
    EXPECT_EQ(form->Com->PortNum(), 0);

    during(form->COM1, form->COM2);
    EXPECT_EQ(Ticked(), form->COM2);
    EXPECT_EQ(form->Com->PortNum(), 2);
    EXPECT_TRUE(Delivers(ptys[1]));

    devices.List = {{QString::fromStdString(ptys[4].SlavePath()), "UART", "", "", false, 0, 0}};
    OpenCommMenu();
    during(form->COM3, form->DevicePorts[0]);
    EXPECT_EQ(Ticked(), form->DevicePorts[0]);
    EXPECT_EQ(form->Com->PortNum(), 7);  // the number the port map gives that device
    EXPECT_TRUE(Delivers(ptys[4]));

    during(form->COM4, form->COM4);  // the same item again: still one open port, no error
    EXPECT_EQ(Ticked(), form->COM4);
    EXPECT_TRUE(Delivers(ptys[3]));
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(TIniFile(harness.PathOf("zbeacon.ini").toStdString()).ReadInteger("Comm", "Port", -1), 4);
}

// Listed devices get a number that [Ports] keeps for them, under their stable name where they have one;
// Custom takes a device path the same way; at the next start the device's item is ticked again.
TEST_F(PortChoice, ListedDevicesAreNumberedUnderTheirStableNamesAndTickedAgainAtTheNextStart) {
    PtyPair adapter, other;
    const std::string stable = devices.StableName("usb-Zindle_Beacon_A10K3XYZ-if00-port0");
    ASSERT_EQ(symlink(adapter.SlavePath().c_str(), stable.c_str()), 0);
    TIniFile(harness.PathOf("zbeacon.ini").toStdString()).WriteString("Ports", "COM5", "/dev/elsewhere");
    const QString adapterPath = QString::fromStdString(adapter.SlavePath());
    const QString otherPath = QString::fromStdString(other.SlavePath());
    devices.List = {{adapterPath, "Beacon UART", "Zindle & Co", "A10K3XYZ", true, 0x0403, 0x6001},
                    {otherPath, "", "", "", true, 0x0403, 0x6001}};
    OpenCommMenu();
    ASSERT_GE(form->DevicePorts.size(), 2);
    EXPECT_EQ(form->DevicePorts[0]->text(), adapterPath + " - Beacon UART (Zindle && Co, A10K3XYZ)");
    EXPECT_EQ(form->DevicePorts[1]->text(), otherPath + " - USB device 0403:6001");
    EXPECT_FALSE(form->NoDevicePorts->isVisible());

    // 1 to 4 and 7 are in the port map, 5 in the file: the adapter gets 6, under its stable name.
    form->DevicePorts[0]->trigger();
    EXPECT_EQ(Ticked(), form->DevicePorts[0]);
    EXPECT_EQ(form->Com->PortNum(), 6);
    EXPECT_EQ(StoredPort("COM6"), stable);
    EXPECT_EQ(StoredPort("COM5"), "/dev/elsewhere");
    EXPECT_TRUE(Delivers(adapter));
    form->DevicePorts[1]->trigger();
    EXPECT_EQ(form->Com->PortNum(), 8);
    EXPECT_EQ(StoredPort("COM8"), other.SlavePath());
    EXPECT_TRUE(Delivers(other));

    // A path typed into Custom: the adapter keeps its number, by whichever name it is given.
    harness.Dialogs.InputAnswers.enqueue(adapterPath);
    form->CustomPort->trigger();
    EXPECT_EQ(Ticked(), form->CustomPort);
    EXPECT_EQ(form->CustomPort->text(), "COM 6 (" + adapterPath + ")");
    EXPECT_EQ(form->Com->PortNum(), 6);
    EXPECT_TRUE(Delivers(adapter));
    // The list does not offer the Custom item's device a second time.
    OpenCommMenu();
    EXPECT_TRUE(form->DevicePorts[0]->isVisible());
    EXPECT_EQ(form->DevicePorts[0]->data().toString(), otherPath);
    EXPECT_FALSE(form->DevicePorts[1]->isVisible());

    form->Com0->trigger();
    OpenCommMenu();
    ASSERT_EQ(form->DevicePorts[0]->data().toString(), adapterPath);
    form->DevicePorts[0]->trigger();
    TForm1& again = harness.Restart();
    EXPECT_EQ(again.Com->PortNum(), 6);
    EXPECT_TRUE(again.Com->IsOpen());
    ASSERT_NE(again.CommPortGroup->checkedAction(), nullptr);
    EXPECT_EQ(again.CommPortGroup->checkedAction()->data().toString(), adapterPath);

    // The chosen device keeps its ticked item while the list does not show it; with nothing chosen from
    // the list, an empty list says so.
    devices.List.clear();
    form = &again;
    OpenCommMenu();
    EXPECT_EQ(Ticked()->text(), QString::fromStdString(stable));
    form->Com0->trigger();
    OpenCommMenu();
    EXPECT_TRUE(form->NoDevicePorts->isVisible());
    EXPECT_FALSE(form->DevicePorts[0]->isVisible());
    // The system's own list runs (what it holds depends on the machine) and adds the stable names of
    // devices it does not show itself, such as the pseudo-terminal linked above.
    bool linked = false;
    for (const TSerialDevice& device : TSystemPortList().Devices()) {
        EXPECT_TRUE(device.Path.startsWith("/")) << device.Path.toStdString();
        linked =
            linked || (device.Path == QString::fromStdString(stable) && device.Description == adapterPath);
    }
    EXPECT_TRUE(linked);
}

// A device path typed into Custom that the list does not show: after a restart the Custom item is ticked
// and names the device with its number, and the device is not offered as a new item when the list shows
// it after all (here under its stable name).
TEST_F(PortChoice, ACustomDeviceKeepsItsItemAcrossARestartAndIsNotOfferedAgain) {
    PtyPair device;
    const QString path = QString::fromStdString(device.SlavePath());
    harness.Dialogs.InputAnswers.enqueue(path);
    form->CustomPort->trigger();
    EXPECT_EQ(form->Com->PortNum(), 5);
    EXPECT_EQ(form->CustomPort->text(), "COM 5 (" + path + ")");
    EXPECT_EQ(StoredPort("COM5"), device.SlavePath());

    TForm1& again = harness.Restart();
    form = &again;
    EXPECT_EQ(Ticked(), again.CustomPort);
    EXPECT_EQ(again.CustomPort->text(), "COM 5 (" + path + ")");
    EXPECT_EQ(again.Com->PortNum(), 5);
    EXPECT_TRUE(Delivers(device));
    const std::string stable = devices.StableName("usb-Zindle_Beacon-if00");
    ASSERT_EQ(symlink(device.SlavePath().c_str(), stable.c_str()), 0);
    devices.List = {{QString::fromStdString(stable), "Beacon UART", "", "", false, 0, 0}};
    OpenCommMenu();
    EXPECT_TRUE(again.NoDevicePorts->isVisible());
    EXPECT_EQ(Ticked(), again.CustomPort);

    // Chosen from the list, it keeps its number.
    again.Com0->trigger();
    OpenCommMenu();
    ASSERT_TRUE(again.DevicePorts[0]->isVisible());
    again.DevicePorts[0]->trigger();
    EXPECT_EQ(again.Com->PortNum(), 5);
    EXPECT_EQ(again.CustomPort->text(), "Custom ...");
}
