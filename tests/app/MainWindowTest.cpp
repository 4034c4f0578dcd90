// The main window as designed: controls, layout and anchors, menus, error boundary, Exit.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include "support/FormHarness.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { form = &harness.Start(); }
    static QStringList Captions(const QMenu* menu) {
        QStringList captions;
        for (QAction* a : menu->actions())
            captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return captions;
    }
    FormHarness harness;
    TForm1* form = nullptr;
};

}  // namespace

TEST_F(MainWindow, OpensAsDesigned) {
    EXPECT_EQ(form->windowTitle(), "Zindle Beacon Setup");
    EXPECT_EQ(WindowBounds::Read(form), QRect(213, 156, 606, 589));
    EXPECT_EQ(form->MemoText(), QByteArray("PSDvvvSQSZ"));
    ASSERT_EQ(form->Sequence->count(), 8);  // decoded when shown
    EXPECT_EQ(form->Sequence->item(3)->text(), "vvv");
    EXPECT_EQ(form->GroupBox1->title(), "Beacon Command String");
    EXPECT_EQ(form->GroupBox2->title(), "Beacon Sequence");
    EXPECT_EQ(form->ReadBeacon->text(), "&Read Beacon");  // the captions with their Alt+ letters marked
    EXPECT_EQ(form->ProgramBeacon->text(), "&Program Beacon");
    EXPECT_EQ(form->Button1->text(), "&Verify Beacon");
    EXPECT_EQ(form->TellCaption(), "");
    EXPECT_EQ(form->TellColor(), QColor(255, 255, 255));
    EXPECT_EQ(form->StatusText(), "");
    EXPECT_EQ(form->ZBCommand->palette().color(QPalette::Base), QColor(255, 255, 144));
    EXPECT_EQ(form->Sequence->palette().color(QPalette::Base), QColor(192, 255, 255));
    EXPECT_EQ(form->ZBCommand->toolTip(), "Beacon Command String");
    EXPECT_EQ(form->Sequence->toolTip(), "Beacon Sequence");
    EXPECT_EQ(form->ZBCommand->font().pixelSize(), 15);
    EXPECT_TRUE(form->ZBCommand->font().bold());
    EXPECT_EQ(form->Sequence->font().pixelSize(), 15);
    EXPECT_EQ(form->Sequence->font().styleHint(), QFont::Monospace);
    EXPECT_EQ(form->Tell->font().pixelSize(), 11);
    EXPECT_TRUE(form->Tell->font().bold());
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(form->MaxChar, 127);
    EXPECT_TRUE(form->Engine->ModeName().isEmpty());
    EXPECT_TRUE(form->Engine->ReceivedText().isEmpty());
}

TEST_F(MainWindow, ControlsSitAtTheirClientCoordinates) {
    QWidget* client = form->centralWidget();
    EXPECT_EQ(client->width(), 598);
    EXPECT_EQ(client->height() + form->StatusBar1->height(), 535);
    EXPECT_EQ(form->StatusBar1->height(), 19);
    EXPECT_EQ(form->GroupBox1->geometry(), QRect(2, 4, 591, 153));
    EXPECT_EQ(form->ZBCommand->geometry(), QRect(4, 24, 581, 69));
    EXPECT_EQ(form->ReadBeacon->geometry(), QRect(16, 98, 137, 25));
    EXPECT_EQ(form->ProgramBeacon->geometry(), QRect(176, 98, 131, 25));
    EXPECT_EQ(form->Button1->geometry(), QRect(332, 98, 131, 25));
    EXPECT_EQ(form->Tell->geometry(), QRect(16, 126, 559, 21));
    EXPECT_EQ(form->GroupBox2->geometry(), QRect(0, 161, 598, 355));
    EXPECT_EQ(form->Sequence->geometry(), QRect(2, 15, 594, 338));
}

TEST_F(MainWindow, ResizingWidensTheAnchoredControlsAndOpensSpaceBetweenTheBoxes) {
    WindowBounds::Apply(form, 213, 156, 806, 689);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->GroupBox1->geometry(), QRect(2, 4, 791, 153));
    EXPECT_EQ(form->ZBCommand->geometry(), QRect(4, 24, 781, 69));
    EXPECT_EQ(form->Tell->geometry(), QRect(16, 126, 759, 21));
    EXPECT_EQ(form->ReadBeacon->geometry(), QRect(16, 98, 137, 25));
    EXPECT_EQ(form->GroupBox2->geometry(), QRect(0, 261, 798, 355));
    EXPECT_EQ(form->Sequence->geometry(), QRect(2, 15, 794, 338));
    EXPECT_EQ(WindowBounds::Read(form), QRect(213, 156, 806, 689));
}

TEST_F(MainWindow, MenusHoldEveryItemWithCaptionsAndShortcuts) {
    QStringList top;
    for (QAction* a : form->menuBar()->actions())
        top << a->text();
    EXPECT_EQ(top, (QStringList{"&File", "&Insert", "&Options", "&GPS", "&Help"}));
    EXPECT_EQ(Captions(form->File1),
              (QStringList{"&New", "&Open", "Open &Backup ...", "&Save", "Save &As ...", "-", "E&xit"}));
    EXPECT_EQ(form->new1->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(form->Open1->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(form->Save1->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_TRUE(form->SaveAs1->shortcut().isEmpty());
    EXPECT_EQ(Captions(form->Options1),
              (QStringList{"Synchronized Beacon", "&Comm", "Set Character Limit ...", "Show Debug Window"}));
    EXPECT_EQ(Captions(form->CommPort1),
              (QStringList{"none", "COM 1", "COM 2", "COM 3", "COM 4", "Custom ..."}));
    EXPECT_EQ(Captions(form->Help1), (QStringList{"&Help", "-", "&About"}));
    EXPECT_EQ(form->Help2->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(form->Synchronized->isCheckable());
    EXPECT_TRUE(form->DebugWindow->isCheckable());
    EXPECT_FALSE(form->Synchronized->isChecked());
    EXPECT_FALSE(form->DebugWindow->isChecked());
    EXPECT_FALSE(form->GPSMenu->menuAction()->isVisible());
}

TEST_F(MainWindow, CommItemsAreOneRadioGroupStartingAtNone) {
    EXPECT_TRUE(form->Com0->isChecked());
    EXPECT_TRUE(form->CommPortGroup->isExclusive());
    for (QAction* a : {form->Com0, form->COM1, form->COM2, form->COM3, form->COM4, form->CustomPort}) {
        EXPECT_EQ(a->actionGroup(), form->CommPortGroup);
    }
}

TEST_F(MainWindow, GpsMenuHasTwentyFourSlotItemsThatToggle) {
    ASSERT_EQ(form->GPSMenu->actions().size(), 24);
    EXPECT_EQ(form->GPSSlots[0]->text(), "00 sec of even minutes");
    EXPECT_EQ(form->GPSSlots[1]->text(), "05 sec of even minutes");
    EXPECT_EQ(form->GPSSlots[11]->text(), "55 sec of even minutes");
    EXPECT_EQ(form->GPSSlots[12]->text(), "00 sec of odd minutes");
    EXPECT_EQ(form->GPSSlots[23]->text(), "55 sec of odd minutes");
    // The default slots (second 0 of even and of odd minutes) are ticked.
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(form->GPSSlots[i]->isChecked(), i == 0 || i == 12) << i;
    const QByteArray mask = form->Engine->SlotMask();
    form->GPSSlots[5]->trigger();
    EXPECT_TRUE(form->GPSSlots[5]->isChecked());
    form->GPSSlots[5]->trigger();
    EXPECT_FALSE(form->GPSSlots[5]->isChecked());
    form->GPSSlots[0]->trigger();
    EXPECT_FALSE(form->GPSSlots[0]->isChecked());
    EXPECT_EQ(form->Engine->SlotMask(), mask);  // clicking never changes the beacon's table
}

// A menu command whose first step fails: the error box shows the error's text, the steps after it do
// not run (Save leaves the change flag set), and the window goes on to take the next command.
TEST_F(MainWindow, AnErrorEndsTheHandlerAndShowsItsText) {
    harness.Dialogs.AllowUnscriptedErrors = true;
    form->CommandFileName = harness.Dir();  // a folder: the file cannot be created
    form->Modified = true;
    form->Save1->trigger();
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Cannot create file " + harness.Dir()});
    EXPECT_TRUE(form->Modified);
    EXPECT_TRUE(form->isVisible());

    form->CommandFileName = harness.PathOf("saved.txt");
    form->Save1->trigger();
    EXPECT_EQ(harness.Dialogs.Errors.size(), 1);
    EXPECT_FALSE(form->Modified);
}

TEST_F(MainWindow, ExitClosesTheWindowLikeItsCloseBox) {
    ASSERT_TRUE(form->isVisible());
    form->Quit1->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindow, ShortcutsAreReachableFromTheDebugWindow) {
    EXPECT_TRUE(harness.Debug().actions().contains(form->Save1));
    EXPECT_TRUE(harness.Debug().actions().contains(form->Help2));
    EXPECT_TRUE(harness.Debug().actions().contains(form->new1));
    EXPECT_TRUE(harness.Debug().actions().contains(form->Open1));
}

TEST(DebugWindowLook, HasItsDesignedBoundsAndMemo) {
    TDebug debug;
    EXPECT_EQ(debug.windowTitle(), "Debug");
    EXPECT_EQ(WindowBounds::Read(&debug), QRect(469, 240, 711, 500));
    EXPECT_EQ(debug.Memo->font().pixelSize(), 13);
    EXPECT_EQ(debug.Memo->font().styleHint(), QFont::Monospace);
    EXPECT_EQ(debug.Memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_FALSE(debug.isVisible());
}

TEST_F(MainWindow, TheStripShowsControlCharactersAsSpacesOnOneLine) {
    form->SetTellCaption("ab\r\ncd");
    EXPECT_EQ(form->TellCaption(), "ab\r\ncd");
    EXPECT_EQ(form->Tell->text(), "ab  cd");
}

// A paste whose selection owner went away before its data was fetched hands the memo no data at all:
// nothing is pasted and nothing breaks; text that cannot be single bytes is still refused.
TEST(CommandMemo, APasteWithNoDataPastesNothing) {
    class Memo : public TCommandMemo {
    public:
        using TCommandMemo::canInsertFromMimeData;
        using TCommandMemo::insertFromMimeData;
    };
    Memo memo;
    memo.setPlainText(QStringLiteral("PSDvvv"));
    EXPECT_FALSE(memo.canInsertFromMimeData(nullptr));
    memo.insertFromMimeData(nullptr);
    QMimeData wide;
    wide.setText(QStringLiteral("\u20ac"));
    EXPECT_FALSE(memo.canInsertFromMimeData(&wide));
    memo.insertFromMimeData(&wide);
    EXPECT_EQ(memo.toPlainText(), "PSDvvv");
    QMimeData plain;
    plain.setText(QStringLiteral("SQSZ"));
    memo.moveCursor(QTextCursor::End);
    memo.insertFromMimeData(&plain);
    EXPECT_EQ(memo.toPlainText(), "PSDvvvSQSZ");
}
