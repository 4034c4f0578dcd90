// The start-up and close sequences of the main window.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QListWidget>
#include <QMenu>

#include "device/VaComm.h"
#include "platform/IniFile.h"
#include "support/FileTestSupport.h"
#include "support/FormHarness.h"
#include "support/PtyPair.h"

namespace {

using filetest::WriteBytes;

class Startup : public ::testing::Test {
protected:
    void WriteIni(const std::string& text) { WriteBytes(harness.PathOf("zbeacon.ini").toStdString(), text); }
    std::string Value(const char* section, const char* key) const {
        return TIniFile(harness.PathOf("zbeacon.ini").toStdString()).ReadString(section, key, "<absent>");
    }
    QAction* Ticked(TForm1& form) { return form.CommPortGroup->checkedAction(); }
    FormHarness harness;
    PtyPair pty;
};

}  // namespace

TEST_F(Startup, WithNoSettingsAndNoFileTheWindowIsAsDesigned) {
    TForm1& form = harness.Start();
    EXPECT_EQ(WindowBounds::Read(&form), QRect(213, 156, 606, 589));
    EXPECT_EQ(form.MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_EQ(form.Sequence->count(), 8);
    EXPECT_EQ(form.windowTitle(), "Zindle Beacon Setup");
    EXPECT_EQ(Ticked(form), form.Com0);
    EXPECT_EQ(form.Com->PortNum(), 0);
    EXPECT_FALSE(form.Com->IsOpen());
    EXPECT_FALSE(form.Synchronized->isChecked());
    EXPECT_EQ(form.MaxChar, 127);
    EXPECT_FALSE(form.GPSMenu->menuAction()->isVisible());
    EXPECT_TRUE(form.GPSSlots[0]->isChecked());
    EXPECT_TRUE(form.GPSSlots[12]->isChecked());
    EXPECT_FALSE(harness.Debug().isVisible());
    EXPECT_EQ(form.CommandFileName, harness.PathOf("default.txt"));
    EXPECT_FALSE(form.Modified);
}

TEST_F(Startup, RememberedFileIsLoadedAndNamedInTheCaption) {
    WriteBytes(harness.PathOf("default.txt").toStdString(), "KUZ\r\n");
    TForm1& form = harness.Start();
    EXPECT_EQ(form.MemoText(), QByteArray("KUZ\r\n"));
    EXPECT_EQ(form.windowTitle(), "Zindle Beacon: default.txt");
    EXPECT_EQ(form.Sequence->count(), 3);
    EXPECT_FALSE(form.Modified);
}

TEST_F(Startup, StoredPortThreeOpensThroughThePortsSection) {
    WriteIni("[Comm]\nPort=3\n[Ports]\nCOM3=" + pty.SlavePath() + "\n");
    TForm1& form = harness.Start();
    EXPECT_TRUE(form.Com->IsOpen());
    EXPECT_EQ(Ticked(form), form.COM3);
    ASSERT_TRUE(pty.Write("hello"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Engine->ReceivedText() == "hello"; }, 5000));
}

TEST_F(Startup, StoredPortThatCannotOpenFallsBackQuietly) {
    WriteIni("[Comm]\nPort=3\n[Ports]\nCOM3=" + harness.PathOf("no-such-device").toStdString() + "\n");
    TForm1& form = harness.Start();
    EXPECT_FALSE(form.Com->IsOpen());
    EXPECT_EQ(form.Com->PortNum(), 0);
    EXPECT_EQ(Ticked(form), form.Com0);
    EXPECT_EQ(harness.Dialogs.Count("Error"), 0);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Comm", "Port"), "0");
}

TEST_F(Startup, PortsBeyondFourTickCustomUpToNinetyNine) {
    WriteIni("[Comm]\nPort=7\n[Ports]\nCOM7=" + pty.SlavePath() + "\n");
    TForm1& form = harness.Start();
    EXPECT_TRUE(form.Com->IsOpen());
    EXPECT_EQ(Ticked(form), form.CustomPort);
    EXPECT_EQ(form.CustomPort->text(), QString::fromStdString("COM 7 (" + pty.SlavePath() + ")"));
    harness.Destroy();

    WriteIni("[Comm]\nPort=120\n[Ports]\nCOM120=" + pty.SlavePath() + "\n");
    TForm1& far = harness.Start();
    EXPECT_TRUE(far.Com->IsOpen());
    EXPECT_EQ(Ticked(far), far.Com0);
    EXPECT_EQ(far.Com->PortNum(), 120);
}

TEST_F(Startup, NegativeStoredPortOpensNothingAndIsKept) {
    WriteIni("[Comm]\nPort=-2\n");
    TForm1& form = harness.Start();
    EXPECT_FALSE(form.Com->IsOpen());
    EXPECT_EQ(Ticked(form), form.Com0);
    EXPECT_EQ(form.Com->PortNum(), -2);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Comm", "Port"), "-2");
}

TEST_F(Startup, UnreadableRememberedFileStopsTheCreationStepsButKeepsTheSlots) {
    // A FIFO in place of the remembered command file: it exists but cannot be read as a file.
    const std::string path = harness.PathOf("program.txt").toStdString();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    WriteIni("[Files]\nSaveAs=" + path + "\n[Comm]\nPort=3\n[Ports]\nCOM3=" + pty.SlavePath() +
             "\n[Beacon]\nSynchronized=1\nGPS=000001000000000000000010\n");
    harness.Dialogs.AllowUnscriptedErrors = true;
    TForm1& form = harness.Start();
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{QString::fromStdString("Cannot open file " + path)});
    EXPECT_EQ(form.MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_TRUE(form.Synchronized->isChecked());  // applied before the load
    EXPECT_EQ(form.MaxChar, 99);
    EXPECT_FALSE(form.Com->IsOpen());  // the port step was skipped
    EXPECT_EQ(Ticked(form), form.Com0);
    EXPECT_TRUE(form.isVisible());  // the program runs on
    // The remembered slots are still ticked, so the close does not erase them.
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(form.GPSSlots[i]->isChecked(), i == 5 || i == 22) << i;
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Comm", "Port"), "3");  // the number read is still written back
    EXPECT_EQ(Value("Beacon", "GPS"), "000001000000000000000010");
}

TEST_F(Startup, RememberedNameOfAFolderLoadsNothing) {
    ASSERT_TRUE(QDir(harness.Dir()).mkdir("folder.txt"));
    WriteIni("[Files]\nSaveAs=" + harness.PathOf("folder.txt").toStdString() +
             "\n[Comm]\nPort=3\n[Ports]\nCOM3=" + pty.SlavePath() + "\n");
    TForm1& form = harness.Start();
    EXPECT_EQ(harness.Dialogs.Count("Error"), 0);
    EXPECT_EQ(form.MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_EQ(form.windowTitle(), "Zindle Beacon Setup");
    EXPECT_TRUE(form.Com->IsOpen());
}

TEST_F(Startup, ClosingAsksToSaveOnlyWhenModifiedAndAfterTheSettings) {
    TForm1& form = harness.Start();
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 0);

    TForm1& again = harness.Restart();
    again.Modified = true;
    bool settingsWritten = false;
    harness.Dialogs.OnAsk = [&](const QString& kind) {
        if (kind == "Warning") settingsWritten = QFile::exists(harness.PathOf("zbeacon.ini"));
    };
    QFile::remove(harness.PathOf("zbeacon.ini"));
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::Yes);
    ASSERT_TRUE(harness.Close());
    ASSERT_EQ(harness.Dialogs.Count("Warning"), 1);
    EXPECT_EQ(harness.Dialogs.Log.last().Text, "Save changes?");
    EXPECT_EQ(harness.Dialogs.Log.last().Title, "Warning");
    EXPECT_TRUE(settingsWritten);
    EXPECT_EQ(filetest::ReadBytes(harness.PathOf("default.txt").toStdString()), "PSDvvvSQSZ");
    (void)form;
}

TEST_F(Startup, StoredDebugTickShowsTheDebugWindowAtItsBounds) {
    WriteIni("[Window]\nDebug=1\nDebug.Top=33\nDebug.Left=44\nDebug.Width=355\nDebug.Height=266\n");
    TForm1& form = harness.Start();
    EXPECT_TRUE(form.DebugWindow->isChecked());
    EXPECT_TRUE(harness.Debug().isVisible());
    EXPECT_EQ(WindowBounds::Read(&harness.Debug()), QRect(44, 33, 355, 266));
}
