// The settings file next to the program: what a run reads at start-up and writes at close.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <filesystem>
#include <random>
#include <set>

#include "device/VaComm.h"
#include "platform/IniFile.h"
#include "support/FileTestSupport.h"
#include "support/FormHarness.h"

namespace {

using filetest::ReadBytes;
using filetest::WriteBytes;

class Settings : public ::testing::Test {
protected:
    std::string Ini() const { return harness.PathOf("zbeacon.ini").toStdString(); }
    std::string Value(const char* section, const char* key) const {
        return TIniFile(Ini()).ReadString(section, key, "<absent>");
    }
    FormHarness harness;
};

}  // namespace

TEST_F(Settings, ARunWithoutChangesWritesEveryKeyInOrder) {
    harness.Start();
    ASSERT_TRUE(harness.Close());
    const std::string dir = harness.Dir().toStdString();
    EXPECT_EQ(ReadBytes(Ini()),
              "[Window]\r\nTop=156\r\nLeft=213\r\nWidth=606\r\nHeight=589\r\n"
              "Debug.Top=240\r\nDebug.Left=469\r\nDebug.Width=711\r\nDebug.Height=500\r\nDebug=0\r\n"
              "\r\n[Files]\r\nSaveAs=" +
                  dir +
                  "/default.txt\r\n"
                  "\r\n[Comm]\r\nPort=0\r\n"
                  "\r\n[Beacon]\r\nMaxChar=127\r\nSynchronized=0\r\nGPS=100000000000100000000000\r\n");
    // A second run reads back what the first one wrote, and writes the same file again.
    harness.Destroy();
    harness.Start();
    const std::string first = ReadBytes(Ini());
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(ReadBytes(Ini()), first);
}

TEST_F(Settings, EveryKeyRoundTrips) {
    TForm1& form = harness.Start();
    WindowBounds::Apply(&form, 50, 60, 700, 650);
    WindowBounds::Apply(&harness.Debug(), 10, 20, 300, 200);
    form.CommandFileName = harness.PathOf("mine.txt");
    form.Synchronized->trigger();
    form.DebugWindow->trigger();
    form.GPSSlots[0]->trigger();
    form.GPSSlots[5]->trigger();
    form.GPSSlots[23]->trigger();
    harness.Dialogs.InputAnswers.enqueue(QString("80"));
    form.SetCharacterLimit1->trigger();
    form.Com->SetPortNum(-4);  // a port that cannot be opened is still remembered as chosen
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Beacon", "MaxChar"), "80");
    EXPECT_EQ(Value("Beacon", "GPS"), "000001000000100000000001");

    TForm1& again = harness.Restart();
    EXPECT_EQ(WindowBounds::Read(&again), QRect(50, 60, 700, 650));
    EXPECT_EQ(WindowBounds::Read(&harness.Debug()), QRect(10, 20, 300, 200));
    EXPECT_TRUE(harness.Debug().isVisible());
    EXPECT_TRUE(again.DebugWindow->isChecked());
    EXPECT_EQ(again.CommandFileName, harness.PathOf("mine.txt"));
    EXPECT_TRUE(again.Synchronized->isChecked());
    EXPECT_EQ(again.MaxChar, 99);  // the mode sets the limit at every start-up
    EXPECT_EQ(again.Com->PortNum(), -4);
    EXPECT_TRUE(again.Com0->isChecked());
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(again.GPSSlots[i]->isChecked(), i == 5 || i == 12 || i == 23) << i;
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Beacon", "MaxChar"), "99");
    EXPECT_EQ(Value("Comm", "Port"), "-4");
}

// Linux file names need not be UTF-8. A remembered one is found again, Save writes to it, and the close
// stores exactly its bytes; only the caption shows the bytes that are not text as U+FFFD.
#ifndef _WIN32  // Windows names are UTF-16: there are no names that are not text
TEST_F(Settings, ARememberedNameThatIsNotUtf8IsKeptAsItsBytes) {
    const std::string name = harness.Dir().toStdString() + "/caf\xE9 \xFF\xC3.txt";
    WriteBytes(name, "PSDabc");
    WriteBytes(Ini(), "[Files]\r\nSaveAs=" + name + "\r\n");
    TForm1& form = harness.Start();
    EXPECT_EQ(form.MemoText(), QByteArray("PSDabc"));
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Zindle Beacon: caf\uFFFD \uFFFD\uFFFD.txt"));
    form.SetMemoText("PSDnew");
    form.Save1->trigger();
    EXPECT_EQ(ReadBytes(name), "PSDnew");
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Files", "SaveAs"), name);
    std::set<std::string> names;  // the settings and that file, no second file under a mangled name
    for (const auto& entry : std::filesystem::directory_iterator(harness.Dir().toStdString()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"zbeacon.ini", name.substr(name.rfind('/') + 1)}));
}
#endif

TEST_F(Settings, PositionsSurviveADesktopThatPlacesWindowsItselfAndBoundsArePulledOntoTheScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // A desktop that does not let programs place windows reports positions of its own making: the
    // remembered ones are written back unchanged, while a new size is remembered as usual.
    WriteBytes(Ini(),
               "[Window]\nTop=300\nLeft=400\nWidth=700\nHeight=650\n"
               "Debug.Top=30\nDebug.Left=40\nDebug.Width=300\nDebug.Height=200\n");
    WindowBounds::OverridePlatformPlacesWindows(false);
    struct Restore {
        ~Restore() { WindowBounds::OverridePlatformPlacesWindows(std::nullopt); }
    } restore;
    TForm1& form = harness.Start();
    form.move(0, 0);
    harness.Debug().move(0, 0);
    WindowBounds::Apply(&harness.Debug(), 40, 30, 320, 210);
    harness.Debug().move(0, 0);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Window", "Top"), "300");
    EXPECT_EQ(Value("Window", "Left"), "400");
    EXPECT_EQ(Value("Window", "Width"), "700");
    EXPECT_EQ(Value("Window", "Debug.Top"), "30");
    EXPECT_EQ(Value("Window", "Debug.Left"), "40");
    EXPECT_EQ(Value("Window", "Debug.Width"), "320");
    EXPECT_EQ(Value("Window", "Debug.Height"), "210");
    harness.Destroy();
    WindowBounds::OverridePlatformPlacesWindows(std::nullopt);

    // Bounds from another monitor or scale: past the right edge, above the top, wider than the screen.
    const int right = area.left() + area.width();
    WriteBytes(Ini(), "[Window]\nTop=" + std::to_string(area.top() + 100) +
                          "\nLeft=" + std::to_string(right + 500) +
                          "\nWidth=700\nHeight=650\nDebug.Top=" + std::to_string(area.top() - 400) +
                          "\nDebug.Left=" + std::to_string(area.left() - 50) +
                          "\nDebug.Width=" + std::to_string(area.width() + 300) + "\nDebug.Height=200\n");
    TForm1& moved = harness.Start();
    EXPECT_EQ(WindowBounds::Read(&moved), QRect(right - 700, area.top() + 100, 700, 650));
    EXPECT_EQ(WindowBounds::Read(&harness.Debug()), QRect(area.left(), area.top(), area.width(), 200));
}

TEST_F(Settings, ValuesAreReadAsTheProgramEncodesThem) {
    WriteBytes(Ini(),
               "[Comm]\nPort=abc\n[Beacon]\nSynchronized=5\nMaxChar=50\nGPS=1111\n"
               "[Window]\nDebug.Left=-5000\nDebug= 0x1\nTop=  12\n");
    TForm1& form = harness.Start();
    EXPECT_EQ(form.Com->PortNum(), 0);
    EXPECT_TRUE(form.Synchronized->isChecked());
    EXPECT_EQ(form.MaxChar, 99);
    EXPECT_EQ(form.Engine->SlotMask(), QByteArray("1111"));
    for (QAction* slot : form.GPSSlots)
        EXPECT_FALSE(slot->isChecked());
    // Stored off every screen: read, then pulled back onto the screen.
    EXPECT_EQ(harness.Debug().x(), QGuiApplication::primaryScreen()->availableGeometry().left());
    EXPECT_TRUE(harness.Debug().isVisible());
    EXPECT_EQ(form.y(), 12);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Beacon", "Synchronized"), "1");
    EXPECT_EQ(Value("Beacon", "MaxChar"), "99");
    EXPECT_EQ(Value("Beacon", "GPS"), "000000000000000000000000");
    EXPECT_EQ(Value("Window", "Debug.Left"),
              std::to_string(QGuiApplication::primaryScreen()->availableGeometry().left()));
    EXPECT_EQ(Value("Window", "Debug"), "1");
    EXPECT_EQ(Value("Comm", "Port"), "0");
}

TEST_F(Settings, StoredLimitIsReplacedAtStartUp) {
    WriteBytes(Ini(), "[Beacon]\r\nMaxChar=50\r\n");
    EXPECT_EQ(harness.Start().MaxChar, 127);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(Value("Beacon", "MaxChar"), "127");
}

TEST_F(Settings, EmptySaveAsLoadsNothingAndSaveThenFails) {
    WriteBytes(Ini(), "[Files]\r\nSaveAs=\r\n");
    WriteBytes(harness.PathOf("default.txt").toStdString(), "KKK");
    TForm1& form = harness.Start();
    EXPECT_TRUE(form.CommandFileName.isEmpty());
    EXPECT_EQ(form.MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_EQ(form.windowTitle(), "Zindle Beacon Setup");
    harness.Dialogs.AllowUnscriptedErrors = true;
    form.Save1->trigger();
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Cannot create file "});
}

TEST_F(Settings, LinesTheProgramDoesNotOwnSurviveAndEditsWhileRunningAreOverwritten) {
    const std::string original =
        "; written by hand\n[Ports]\nCOM3=/dev/ttyUSB0\n\n[Window]\nTop=100\nColour=blue\n"
        "[Other]\nx=1\n";
    WriteBytes(Ini(), original);
    harness.Start();
    // Edited while the program runs: the program's keys are written over, the rest is kept.
    WriteBytes(Ini(), original + "[Comm]\nPort=5\n; another comment\n");
    ASSERT_TRUE(harness.Close());
    const std::string written = ReadBytes(Ini());
    EXPECT_EQ(
        written.rfind("; written by hand\n[Ports]\nCOM3=/dev/ttyUSB0\n\n[Window]\nTop=100\nColour=blue\n", 0),
        0u)
        << written;
    EXPECT_NE(written.find("[Other]\nx=1\n"), std::string::npos);
    EXPECT_NE(written.find("; another comment\n"), std::string::npos);
    EXPECT_EQ(Value("Comm", "Port"), "0");
    EXPECT_EQ(Value("Window", "Top"), "100");
    EXPECT_EQ(written.find('\r'), std::string::npos);  // the file keeps its line breaks
}

TEST_F(Settings, AnUnwritableSettingsFileKeepsTheWindowOpenAndSkipsThePrompt) {
    ASSERT_TRUE(QDir(harness.Dir()).mkdir("zbeacon.ini"));  // a folder where the file should be
    TForm1& form = harness.Start();
    form.Modified = true;
    harness.Dialogs.AllowUnscriptedErrors = true;
    EXPECT_FALSE(harness.Close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Unable to write to " + harness.PathOf("zbeacon.ini")});
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 0);
    // Once the settings can be written, the next close runs every step.
    ASSERT_TRUE(QDir(harness.Dir()).rmdir("zbeacon.ini"));
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::No);
    EXPECT_TRUE(harness.Close());
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 1);
}

// How fast junk is read is measured by tools/bench-settings; here: what junk gives.
TEST_F(Settings, GarbageGivesTheDefaultsAndTheFirstOfDuplicatesCounts) {
    std::mt19937 random(7);
    std::string junk(1024 * 1024, '\0');
    for (char& c : junk)
        c = static_cast<char>(random());
    WriteBytes(Ini(), junk);
    TForm1& form = harness.Start();
    EXPECT_EQ(WindowBounds::Read(&form), QRect(213, 156, 606, 589));
    EXPECT_EQ(form.CommandFileName, harness.PathOf("default.txt"));
    EXPECT_EQ(form.Com->PortNum(), 0);
    EXPECT_FALSE(form.Synchronized->isChecked());
    EXPECT_EQ(form.MaxChar, 127);
    EXPECT_EQ(form.Engine->SlotMask(), QByteArray("100000000000100000000000"));
    EXPECT_FALSE(form.DebugWindow->isChecked());
    harness.Destroy();

    WriteBytes(Ini(),
               "no equals sign here\n[Comm]\nPort\n=5\n[Comm]\nPort=2x\n[comm]\nport=9\n"
               "[Beacon]\nSynchronized=1\nSYNCHRONIZED=0\n[Beacon]\nGPS=000000000000000000000001\n");
    TForm1& second = harness.Start();
    EXPECT_EQ(second.Com->PortNum(), 0);            // the first [Comm] has no valid Port
    EXPECT_TRUE(second.Synchronized->isChecked());  // the first of duplicated keys wins
    EXPECT_EQ(second.Engine->SlotMask(),
              QByteArray("100000000000100000000000"));  // only the first [Beacon] counts
}
