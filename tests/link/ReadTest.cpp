// Reading a beacon end to end: the tool's side of the conversation against the simulated beacon.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QListWidget>

#include "support/BeaconRig.h"

namespace {

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kCyan(192, 255, 255);
const QString kNotice = QStringLiteral("GPS Menu set to programmed beacon slots");

zbsim::BeaconOptions Synchronized(const std::string& table) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    options.slotTable = table;
    return options;
}

QByteArray Ticks(const TForm1& form) {
    QByteArray ticks;
    for (const QAction* item : form.GPSSlots)
        ticks += item->isChecked() ? '1' : '0';
    return ticks;
}

QStringList Entries(const SequenceList* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

// Fill colour of a listing row as drawn, sampled at its right end where no text is drawn.
QColor RowFill(SequenceList* list, int row) {
    list->scrollToItem(list->item(row));
    QCoreApplication::processEvents();  // the list lays its rows out lazily
    const QImage image = list->viewport()->grab().toImage();
    const QRect rect = list->visualItemRect(list->item(row));
    return image.pixelColor(image.width() - 6, rect.center().y());
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll();
}

}  // namespace

// A plain Read from start to end: the memo ends up holding the command string alone, the listing is decoded,
// and "n" goes out one paced unit after the question.
TEST(BeaconRead, NormalBeaconFillsTheMemoAndAnswersNoAfterOneUnit) {
    BeaconRig rig;
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.SetMemoText("old text");
    form.TakeMemoAsUnchanged();  // as if opened from a file
    form.UpdateSequence();

    form.ReadBeacon->click();
    EXPECT_EQ(form.MemoText(), "");
    EXPECT_EQ(form.Sequence->count(), 0);
    EXPECT_EQ(form.TellColor(), kRed);
    EXPECT_EQ(form.TellCaption(), "Check jumper. Turn beacon off and then on.");
    EXPECT_EQ(form.StatusText(), "Ready to read beacon");
    EXPECT_EQ(form.Engine->ModeName(), "Read");
    EXPECT_EQ(form.Engine->ReceivedText(), "");

    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return form.Engine->ReceivedText().endsWith("Beacon running\r\n"); }));
    EXPECT_EQ(rig.sim.Received(), "n");
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");
    EXPECT_EQ(Entries(form.Sequence),
              QStringList({"P Activate PTT", "S Wait 1 second", "D Set speed to 21 wpm", "vvv",
                           "S Wait 1 second", "Q Release PTT", "S Wait 1 second", "Z End"}));
    // "Reading" gave the strip its neutral look; the answer emptied the caption, and the status line
    // says what was read.
    EXPECT_EQ(form.TellColor(), kWhite);
    EXPECT_EQ(form.TellFontColor(), kBlack);
    EXPECT_EQ(form.TellCaption(), "");
    EXPECT_EQ(form.StatusText(), "Beacon read: 10 characters");
    // After the answer the marker stands in for everything before; later text only accumulates.
    EXPECT_EQ(form.Engine->ReceivedText(), "Command: \rBeacon running\r\n");
    EXPECT_FALSE(form.Modified);

    const std::vector<zbsim::AnswerDelay> answers = rig.sim.AnswerLog();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].prompt, zbsim::Prompt::ChangeProgram);
    EXPECT_GE(answers[0].seconds, 0.9936 - 0.02);
    EXPECT_LT(answers[0].seconds, 2.5);
}

// A synchronized beacon: after the command the slot listing is taken into the GPS menu and a red
// notice line ends the listing.
TEST(BeaconRead, SynchronizedBeaconCopiesItsSlotsIntoTheMenu) {
    const std::string table = "010000100000001000000001";
    BeaconRig rig(Synchronized(table));
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.Synchronized->trigger();
    ASSERT_TRUE(form.Synchronized->isChecked());
    ASSERT_EQ(Ticks(form), "100000000000100000000000");  // the default ticks

    form.ReadBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitForSimState("Beaconing"));
    ASSERT_TRUE(rig.WaitFor([&] { return form.Engine->ReceivedText().endsWith("Beacon running\r\n"); }));

    EXPECT_EQ(rig.sim.Received(), "nn");
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_EQ(form.Engine->SlotMask(), QByteArray::fromStdString(table));
    EXPECT_EQ(Ticks(form), QByteArray::fromStdString(table));
    EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");
    const QStringList entries = Entries(form.Sequence);
    ASSERT_EQ(entries.size(), 9);
    EXPECT_EQ(entries.first(), "P Activate PTT");
    EXPECT_EQ(entries.last(), kNotice);
    EXPECT_EQ(RowFill(form.Sequence, 8), kRed);
    EXPECT_EQ(RowFill(form.Sequence, 7), kCyan);
    // Reading the slot listing empties the text before its answer; only what came after stays.
    EXPECT_EQ(form.Engine->ReceivedText(), "Beacon running\r\n");

    const std::vector<zbsim::AnswerDelay> answers = rig.sim.AnswerLog();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].prompt, zbsim::Prompt::ChangeProgram);
    EXPECT_EQ(answers[1].prompt, zbsim::Prompt::ChangeSlots);
    for (const zbsim::AnswerDelay& answer : answers) {
        EXPECT_GE(answer.seconds, 0.9936 - 0.02);
        EXPECT_LT(answer.seconds, 2.5);
    }
}

// The option not ticked: the Read ticks it when the slot listing arrives and finishes in the same pass,
// as if it had been ticked: the slot question is answered and the menu takes the beacon's slots.
TEST(BeaconRead, SynchronizedBeaconWithTheOptionOffIsReadInOnePass) {
    const std::string table = "001000000000000100000000";
    BeaconRig rig(Synchronized(table));
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    ASSERT_FALSE(form.Synchronized->isChecked());
    ASSERT_EQ(form.MaxChar, 127);

    form.ReadBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitForSimState("Beaconing"));
    ASSERT_TRUE(rig.WaitFor([&] { return Ticks(form) == QByteArray::fromStdString(table); }));
    EXPECT_TRUE(form.Synchronized->isChecked());
    EXPECT_EQ(form.MaxChar, 99);  // the synchronized mode was applied
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_EQ(rig.sim.Received(), "nn");
    EXPECT_EQ(Entries(form.Sequence).last(), kNotice);
    EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");

    // Once over, a later listing (the beacon switched on again) is only collected.
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return form.Engine->ReceivedText().contains("Change program? y/n\r\n"); }));
    EXPECT_EQ(rig.sim.Received(), "nn");
}

// No port chosen: every start button shows "Select Comm Port" and changes no dialogue state; Read asks
// nothing and keeps the memo, changed or not, and the listing.
TEST(BeaconRead, WithoutAPortNothingStarts) {
    FormHarness harness;
    TForm1& form = harness.Start();
    ASSERT_EQ(form.Com->PortNum(), 0);
    form.Engine->SetMode(LinkMode::Verify);
    form.Engine->SetReceivedText("earlier text");
    form.ZBCommand->insertPlainText("K");
    ASSERT_TRUE(form.Modified);

    for (QPushButton* button : {form.ProgramBeacon, form.Button1, form.ReadBeacon}) {
        form.SetTellCaption("before");
        button->click();
        EXPECT_EQ(form.TellCaption(), "Select Comm Port");
        EXPECT_EQ(form.TellColor(), kRed);
        EXPECT_EQ(form.MemoText(), "KPSDvvvSQSZ");
        EXPECT_EQ(form.Sequence->count(), 9);
    }
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 0);
    EXPECT_TRUE(form.Modified);
    EXPECT_EQ(form.Engine->ModeName(), "Verify");
    EXPECT_EQ(form.Engine->ReceivedText(), "earlier text");
}

// A chosen port whose device is absent: the strip says so, and Read asks nothing and empties nothing.
// A device that goes while "Save changes?" is open stops the Read after the answer, before the memo
// is emptied.
TEST(BeaconRead, WithTheDeviceAbsentNothingIsAskedOrEmptied) {
    FormHarness harness;
    TForm1& form = harness.Start();
    const QString gone = harness.PathOf("gone");
    Serial::SetPortMap({{3, gone.toStdString()}});
    form.Com->SetPortNum(3);
    form.ZBCommand->insertPlainText("K");
    form.ReadBeacon->click();
    EXPECT_EQ(form.TellCaption(), "COM3 not connected: " + gone);
    EXPECT_EQ(form.TellColor(), kRed);
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 0);
    EXPECT_EQ(form.MemoText(), "KPSDvvvSQSZ");
    EXPECT_EQ(form.Engine->ModeName(), "");

    QFile device(gone);
    ASSERT_TRUE(device.open(QIODevice::WriteOnly));  // there now, as far as a start can tell
    device.close();
    harness.Dialogs.OnAsk = [&](const QString& kind) {
        if (kind == "Warning") QFile::remove(gone);  // pulled out while the box is open
    };
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::No);
    form.ReadBeacon->click();
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 1);
    EXPECT_EQ(form.TellCaption(), "COM3 not connected: " + gone);
    EXPECT_EQ(form.MemoText(), "KPSDvvvSQSZ");
    EXPECT_EQ(form.Sequence->count(), 9);
    EXPECT_TRUE(form.Modified);
    EXPECT_EQ(form.Engine->ModeName(), "");
    Serial::SetPortMap({});
}

// Unsaved changes: "Save changes?" is asked first; Yes writes the memo, No leaves the file; the
// memo is emptied and the Read starts either way.
TEST(BeaconRead, UnsavedChangesAreOfferedForSavingFirst) {
    BeaconRig rig;
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    ScriptedDialogs& dialogs = rig.harness.Dialogs;
    const QString file = rig.harness.PathOf("default.txt");
    ASSERT_EQ(form.CommandFileName, file);

    form.SetMemoText("PSDab\r\nSZ");
    form.Modified = true;
    dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::Yes);
    form.ReadBeacon->click();
    ASSERT_EQ(dialogs.Count("Warning"), 1);
    EXPECT_EQ(dialogs.Log.last().Text, "Save changes?");
    EXPECT_EQ(ReadFile(file), "PSDab\r\nSZ");
    EXPECT_FALSE(form.Modified);
    EXPECT_EQ(form.MemoText(), "");
    EXPECT_EQ(form.Engine->ModeName(), "Read");

    form.SetMemoText("unsaved");
    form.Modified = true;
    form.Engine->SetMode(LinkMode::Idle);
    dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::No);
    form.ReadBeacon->click();
    EXPECT_EQ(dialogs.Count("Warning"), 2);
    EXPECT_EQ(ReadFile(file), "PSDab\r\nSZ");
    EXPECT_FALSE(form.Modified);  // the memo is the Read's now
    EXPECT_EQ(form.MemoText(), "");
    EXPECT_EQ(form.Engine->ModeName(), "Read");

    // Nothing unsaved: no question.
    form.Modified = false;
    form.ReadBeacon->click();
    EXPECT_EQ(dialogs.Count("Warning"), 2);
}
