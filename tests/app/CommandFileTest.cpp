// File New, Open, Save and Save As, the caption, the change flag and the "Save changes?" prompt.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "device/VaComm.h"
#include "link/Backups.h"
#include "platform/serial/Serial.h"
#include "support/FileTestSupport.h"
#include "support/FormHarness.h"
#ifndef _WIN32
#include "support/PtyPair.h"
#endif

namespace {

using filetest::ReadBytes;
using filetest::WriteBytes;

[[maybe_unused]] QStringList Rows(const SequenceList* list) {  // unused where the line tests are left out
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

class CommandFiles : public ::testing::Test {
protected:
    void SetUp() override { form = &harness.Start(); }
    std::string Path(const char* name) const { return harness.PathOf(name).toStdString(); }
    std::string Bytes(const char* name) const { return ReadBytes(Path(name)); }
    FormHarness harness;
    TForm1* form = nullptr;
};

}  // namespace

TEST_F(CommandFiles, SaveBeforeAnyOpenCreatesDefaultTxtAndKeepsTheCaption) {
    form->Modified = true;
    form->Save1->trigger();
    EXPECT_EQ(Bytes("default.txt"), "PSDvvvSQSZ");
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon Setup");
}

TEST_F(CommandFiles, NewThenSaveWritesTheEmptyMemoOverTheNamedFile) {
    WriteBytes(Path("a.txt"), "KKK");
    harness.Dialogs.OpenAnswers.enqueue(harness.PathOf("a.txt"));
    form->Open1->trigger();
    form->new1->trigger();
    EXPECT_EQ(form->MemoText(), QByteArray());
    EXPECT_EQ(form->Sequence->count(), 0);
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon: a.txt");
    form->Save1->trigger();
    EXPECT_EQ(Bytes("a.txt"), "");
}

TEST_F(CommandFiles, OpenLoadsConvertsAndNamesTheFile) {
    WriteBytes(Path("lf.txt"), "PK\nab\n\nZ");
    form->Modified = true;
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::No);
    harness.Dialogs.OpenAnswers.enqueue(harness.PathOf("lf.txt"));
    form->Open1->trigger();
    EXPECT_EQ(form->MemoText(), QByteArray("PK\r\nab\r\n\r\nZ"));
    EXPECT_EQ(form->MemoLines(), (QStringList{"PK", "ab", "", "Z"}));
    EXPECT_EQ(form->Sequence->count(), 4);
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon: lf.txt");
    EXPECT_EQ(form->CommandFileName, harness.PathOf("lf.txt"));
    EXPECT_FALSE(form->Modified);  // the memo holds the file just opened
    // The dialog opened in the current file's folder with the designed filters.
    const TFileDialogRequest& request = harness.Dialogs.OpenRequests.last();
    EXPECT_EQ(request.InitialDir, harness.Dir());
    EXPECT_EQ(request.Filters, (QStringList{"Text Files (*.txt)", "All Files (*)"}));
    EXPECT_EQ(request.DefaultExt, "txt");
    // An edit is offered for saving at the close, and "&Yes" writes it to the file just opened, with CR LF
    // breaks.
    QTextCursor end = form->ZBCommand->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText("Z");
    EXPECT_TRUE(form->Modified);
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::Yes);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 2);
    EXPECT_EQ(Bytes("lf.txt"), "PK\r\nab\r\n\r\nZZ");
}

TEST_F(CommandFiles, AnyByteValueRoundTrips) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') all += static_cast<char>(c);
    }
    WriteBytes(Path("bytes.txt"), all);
    harness.Dialogs.OpenAnswers.enqueue(harness.PathOf("bytes.txt"));
    form->Open1->trigger();
    form->Save1->trigger();
    EXPECT_EQ(Bytes("bytes.txt"), all);
}

TEST_F(CommandFiles, SaveAsNamesTheNewFileAndOffersTheCurrentOne) {
    form->Modified = true;
    harness.Dialogs.SaveAnswers.enqueue(harness.PathOf("new.txt"));
    form->SaveAs1->trigger();
    EXPECT_EQ(Bytes("new.txt"), "PSDvvvSQSZ");
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon: new.txt");
    EXPECT_EQ(form->CommandFileName, harness.PathOf("new.txt"));
    const TFileDialogRequest& request = harness.Dialogs.SaveRequests.last();
    EXPECT_EQ(request.FileName, harness.PathOf("default.txt"));
    EXPECT_EQ(request.Filters, (QStringList{"Text File (*.txt)", "All Files (*)"}));
    EXPECT_EQ(request.DefaultExt, "txt");
    EXPECT_TRUE(request.OverwritePrompt);
}

TEST_F(CommandFiles, CancellingADialogChangesNothingButAnAnsweredPromptHasWritten) {
    form->Modified = true;
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::Yes);
    harness.Dialogs.OpenAnswers.enqueue(std::nullopt);
    form->Open1->trigger();
    EXPECT_EQ(Bytes("default.txt"), "PSDvvvSQSZ");
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(form->MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon Setup");

    harness.Dialogs.SaveAnswers.enqueue(std::nullopt);
    form->SaveAs1->trigger();
    EXPECT_EQ(form->CommandFileName, harness.PathOf("default.txt"));
}

TEST_F(CommandFiles, OpeningAMissingFileKeepsTheMemoButTakesTheName) {
    harness.Dialogs.AllowUnscriptedErrors = true;
    harness.Dialogs.OpenAnswers.enqueue(harness.PathOf("typed.txt"));
    form->Open1->trigger();
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Cannot open file " + harness.PathOf("typed.txt")});
    EXPECT_EQ(form->MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon Setup");
    EXPECT_EQ(form->CommandFileName, harness.PathOf("typed.txt"));
    form->Save1->trigger();  // a later Save writes the memo to the chosen path
    EXPECT_EQ(Bytes("typed.txt"), "PSDvvvSQSZ");
}

TEST_F(CommandFiles, AFileBeyondTheMemoCapacityIsRefused) {
    WriteBytes(Path("huge.txt"), std::string(1024 * 1024 + 1, 'x'));
    harness.Dialogs.AllowUnscriptedErrors = true;
    harness.Dialogs.OpenAnswers.enqueue(harness.PathOf("huge.txt"));
    form->Open1->trigger();
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Text exceeds memo capacity"});
    EXPECT_EQ(form->MemoText(), QByteArray("PSDvvvSQSZ"));
}

#ifndef _WIN32  // a file size limit stands for the full disk: POSIX resource limits
TEST_F(CommandFiles, AFailingSaveKeepsTheOldFileWholeAndTheFlagSet) {
    WriteBytes(Path("default.txt"), "old program");
    form->SetMemoText(QByteArray(4000, 'K'));
    form->Modified = true;
    harness.Dialogs.AllowUnscriptedErrors = true;
    {
        filetest::FileSizeLimit limit(100);  // as on a full disk
        ASSERT_TRUE(limit.Active());
        form->Save1->trigger();
    }
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Cannot create file " + harness.PathOf("default.txt")});
    EXPECT_EQ(Bytes("default.txt"), "old program");
    EXPECT_TRUE(form->Modified);
}
#endif

TEST_F(CommandFiles, AFailingPromptWriteStopsNewAndSaveAsKeepsTheOldCaption) {
    // A folder in place of the current file: the prompt's write fails, so New empties nothing.
    form->CommandFileName = harness.PathOf("folder");
    ASSERT_TRUE(QDir(harness.Dir()).mkdir("folder"));
    form->Modified = true;
    harness.Dialogs.AllowUnscriptedErrors = true;
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::Yes);
    form->new1->trigger();
    EXPECT_EQ(harness.Dialogs.Errors.size(), 1);
    EXPECT_EQ(form->MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_TRUE(form->Modified);

    harness.Dialogs.SaveAnswers.enqueue(harness.PathOf("folder"));
    form->SaveAs1->trigger();
    EXPECT_EQ(harness.Dialogs.Errors.size(), 2);
    EXPECT_EQ(form->CommandFileName, harness.PathOf("folder"));
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon Setup");
}

// Keys that only work the menu (Ctrl+S, Ctrl+O, F1) mark nothing when they are released in the memo.
TEST_F(CommandFiles, CtrlSInTheMemoSavesAndItsReleaseMarksNothing) {
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    form->ZBCommand->setFocus();
    QTest::keyClicks(form->ZBCommand, "ab");
    EXPECT_TRUE(form->Modified);
    QTest::keyPress(form->ZBCommand, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Bytes("default.txt"), "abPSDvvvSQSZ");  // the shortcut typed nothing
    EXPECT_FALSE(form->Modified);
    QTest::keyRelease(form->ZBCommand, Qt::Key_S, Qt::ControlModifier);
    QTest::keyRelease(form->ZBCommand, Qt::Key_Control);
    EXPECT_FALSE(form->Modified);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 0);
}

// Text that comes in with the mouse alone (the Insert menu, a paste from the memo's context menu) is
// decoded at once and offered for saving at the close: nothing is lost.
TEST_F(CommandFiles, TextEnteredWithoutKeysIsDecodedAndOfferedForSaving) {
    form->ZEndofMessage1->trigger();
    QApplication::clipboard()->setText("KU");
    form->ZBCommand->paste();
    EXPECT_EQ(form->MemoText(), QByteArray("ZKUPSDvvvSQSZ"));
    ASSERT_EQ(form->Sequence->count(), 1);
    EXPECT_EQ(form->Sequence->item(0)->text(), "Z End");
    form->ZBCommand->selectAll();
    form->ZBCommand->paste();
    ASSERT_EQ(form->Sequence->count(), 2);
    EXPECT_EQ(form->Sequence->item(1)->text(), "U Unkey transmitter");
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::Yes);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 1);
    EXPECT_EQ(Bytes("default.txt"), "KU");
}

// Text put in by New and Open is the program's own: once the operator has let the old text go, closing
// right after asks nothing.
TEST_F(CommandFiles, NewAndOpenMarkNothing) {
    WriteBytes(Path("a.txt"), "KKK");
    form->ZBCommand->insertPlainText("ab");
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::No);
    form->new1->trigger();
    EXPECT_FALSE(form->Modified);
    form->ZBCommand->insertPlainText("cd");
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::No);
    harness.Dialogs.OpenAnswers.enqueue(harness.PathOf("a.txt"));
    form->Open1->trigger();
    EXPECT_FALSE(form->Modified);
    ASSERT_TRUE(harness.Close());
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 2);
    EXPECT_EQ(Bytes("default.txt"), "");  // nothing was saved
}

// Cancel at "Save changes?" abandons the operation that asked: New, Open, Read, Exit and the close box
// leave the memo, the listing, the file, the caption and the dialogue exactly as they were.
#ifndef _WIN32  // the beacon's line is a pseudo-terminal
TEST_F(CommandFiles, CancelAtSaveChangesLeavesEverythingAsItWas) {
    PtyPair pty;
    Serial::SetPortMap({{6, pty.SlavePath()}});
    form->Com->SetPortNum(6);
    form->Com->Open();
    ASSERT_TRUE(form->Com->IsOpen());
    WriteBytes(Path("default.txt"), "on disk");
    WriteBytes(Path("other.txt"), "KKK");
    form->ZBCommand->insertPlainText("K");
    ASSERT_TRUE(form->Modified);
    const QByteArray memo = form->MemoText();
    const QStringList listing = Rows(form->Sequence);
    form->Engine->SetReceivedText("earlier");
    form->SetTellCaption("as it was");
    auto unchanged = [&](const char* after) {
        SCOPED_TRACE(after);
        EXPECT_EQ(form->MemoText(), memo);
        EXPECT_EQ(Rows(form->Sequence), listing);
        EXPECT_TRUE(form->Modified);
        EXPECT_EQ(Bytes("default.txt"), "on disk");
        EXPECT_EQ(form->CommandFileName, harness.PathOf("default.txt"));
        EXPECT_EQ(form->windowTitle(), "Zindle Beacon Setup");
        EXPECT_EQ(form->Engine->ModeName(), QByteArray());
        EXPECT_EQ(form->Engine->ReceivedText(), QByteArray("earlier"));
        EXPECT_EQ(form->TellCaption(), "as it was");
        EXPECT_TRUE(form->isVisible());
    };

    for (int i = 0; i < 5; ++i)
        harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::Cancel);
    form->new1->trigger();
    unchanged("New");
    form->Open1->trigger();  // no open dialog is shown: the script has no answer for one
    unchanged("Open");
    form->ReadBeacon->click();
    unchanged("Read");
    form->Quit1->trigger();
    unchanged("Exit");
    EXPECT_FALSE(harness.Close());
    unchanged("close box");
    EXPECT_EQ(harness.Dialogs.Count("Warning"), 5);
    EXPECT_EQ(harness.Dialogs.Count("Open"), 0);

    // Answered No, the close goes ahead.
    harness.Dialogs.WarningAnswers.enqueue(IDialogs::TAnswer::No);
    EXPECT_TRUE(harness.Close());
    form->Com->Close();
    Serial::SetPortMap({});
}
#endif

// Open Backup starts in the backups folder beside the settings; the backup's message goes into the memo
// as a change to the current file, which stays the current one, and its slot table into the GPS menu.
TEST_F(CommandFiles, OpenBackupLoadsTheOldMessageAndSlots) {
    EXPECT_EQ(form->BackupsFolderPath(), harness.PathOf("backups"));
    Backups::Record record;
    record.device = QStringLiteral("/dev/ttyUSB0");
    QString error;
    const std::optional<QString> backup =
        Backups::Write(form->BackupsFolderPath(), record, "OLD\r\nvvv Z", error);
    ASSERT_TRUE(backup) << error.toStdString();
    ASSERT_TRUE(Backups::AddSlotTable(*backup, "001000000000000000000001", error)) << error.toStdString();
    const QString current = form->CommandFileName;
    harness.Dialogs.OpenAnswers.enqueue(*backup);
    form->OpenBackup1->trigger();
    EXPECT_EQ(harness.Dialogs.OpenRequests.last().InitialDir, harness.PathOf("backups"));
    EXPECT_EQ(harness.Dialogs.OpenRequests.last().FileName, QFileInfo(*backup).fileName());  // the newest
    EXPECT_EQ(form->MemoText(), QByteArray("OLD\r\nvvv Z"));
    EXPECT_EQ(form->CommandFileName, current);
    EXPECT_TRUE(form->Modified);
    for (int i = 0; i < form->GPSSlots.size(); ++i)
        EXPECT_EQ(form->GPSSlots[i]->isChecked(), i == 2 || i == 23) << i;
}
