// The Comm menu on Windows: a COM port is its own device, whether typed into Custom or chosen from the
// list, so the choice sets the port number itself and writes no [Ports] entry.
#include <gtest/gtest.h>

#include <QAction>

#include "device/VaComm.h"
#include "platform/IniFile.h"
#include "support/FormHarness.h"

namespace {

TEST(WindowsPorts, AComPortIsItsOwnNumberWithoutAPortsEntry) {
    FormHarness harness;
    TForm1& form = harness.Start();
    harness.Dialogs.AllowUnscriptedErrors = true;  // the ports are not there: each open says so

    harness.Dialogs.InputAnswers.enqueue(QStringLiteral(" com12"));
    form.CustomPort->trigger();
    EXPECT_EQ(form.Com->PortNum(), 12);
    EXPECT_EQ(form.CustomPort->text(), QStringLiteral("COM 12"));

    harness.Dialogs.InputAnswers.enqueue(QStringLiteral("\\\\.\\COM31"));
    form.CustomPort->trigger();
    EXPECT_EQ(form.Com->PortNum(), 31);

    QAction listed(&form);
    listed.setCheckable(true);
    listed.setData(QStringLiteral("COM7"));
    form.Guard([&] { form.DevicePortClick(&listed); });  // as the menu item calls it
    EXPECT_EQ(form.Com->PortNum(), 7);
    EXPECT_TRUE(listed.isChecked());

    // A plain number still works as it always did.
    harness.Dialogs.InputAnswers.enqueue(QStringLiteral("9"));
    form.CustomPort->trigger();
    EXPECT_EQ(form.Com->PortNum(), 9);

    ASSERT_TRUE(harness.Close());
    TIniFile ini(harness.PathOf("zbeacon.ini").toStdString());
    EXPECT_TRUE(ini.ReadSectionValues("Ports").empty());
    EXPECT_EQ(ini.ReadInteger("Comm", "Port", 0), 9);
    EXPECT_EQ(harness.Dialogs.Errors.size(), 4);
}

}  // namespace
