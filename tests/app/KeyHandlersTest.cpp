// The memo's key handlers and the Insert menu in the window: the listing, count and alarms follow the
// text, whatever changed it.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "command/CommandTable.h"
#include "support/FormHarness.h"

namespace {

QStringList Listing(const TForm1& form) {
    QStringList rows;
    for (int i = 0; i < form.Sequence->count(); ++i)
        rows << form.Sequence->item(i)->text();
    return rows;
}

class KeyHandlers : public ::testing::Test {
protected:
    void SetUp() override {
        form = &harness.Start();
        form->ZBCommand->setFocus();
        form->activateWindow();
    }
    void Type(const QString& text) { QTest::keyClicks(form->ZBCommand, text); }
    void SelectAll() {
        QTextCursor c = form->ZBCommand->textCursor();
        c.select(QTextCursor::Document);
        form->ZBCommand->setTextCursor(c);
    }
    FormHarness harness;
    TForm1* form = nullptr;
};

}  // namespace

TEST_F(KeyHandlers, StatusLineCountsLineBreaksAsTwo) {
    form->ZBCommand->clear();
    Type("abcde");
    QTest::keyClick(form->ZBCommand, Qt::Key_Return);
    Type("fghij");
    EXPECT_EQ(form->StatusText(), "12 characters. Maximum = 127");
    EXPECT_EQ(form->MemoText(), QByteArray("abcde\r\nfghij"));
    EXPECT_EQ(Listing(*form), QStringList{"abcdefghij"});
}

TEST_F(KeyHandlers, EmptyMemoAfterAKeyReleaseReadsZero) {
    form->ZBCommand->clear();
    QTest::keyClick(form->ZBCommand, Qt::Key_Backspace);
    EXPECT_EQ(form->StatusText(), "0 characters. Maximum = 127");
    EXPECT_EQ(form->Sequence->count(), 0);
    EXPECT_EQ(form->TellColor(), QColor(255, 255, 255));
    EXPECT_EQ(form->TellCaption(), "");
}

TEST_F(KeyHandlers, LengthAlarmStartsOneAboveTheLimit) {
    form->MaxChar = 12;
    form->ZBCommand->clear();
    Type("abcdefghijk");  // 11
    Type("l");            // 12: exactly the limit
    EXPECT_EQ(form->TellCaption(), "");
    EXPECT_EQ(form->TellColor(), QColor(255, 255, 255));
    EXPECT_EQ(form->TellFontColor(), QColor(0, 0, 0));
    Type("m");  // 13
    EXPECT_EQ(form->StatusText(), "13 characters. Maximum = 12");
    EXPECT_EQ(form->TellCaption(), "Beacon Message too long!");
    EXPECT_EQ(form->TellColor(), QColor(255, 0, 0));
    EXPECT_EQ(form->TellFontColor(), QColor(255, 255, 255));
    // Text after Z is not decoded but still counts.
    form->MaxChar = 3;
    form->ZBCommand->clear();
    Type("Zab");
    EXPECT_EQ(Listing(*form), QStringList{"Z End"});
    EXPECT_EQ(form->TellCaption(), "");
    Type("c");
    EXPECT_EQ(form->TellCaption(), "Beacon Message too long!");
    // A limit of 0 makes any text too long.
    form->MaxChar = 0;
    QTest::keyClick(form->ZBCommand, Qt::Key_Left);
    EXPECT_EQ(form->TellCaption(), "Beacon Message too long!");
}

// The text counts as changed while it differs from the file's, however it got so; keys that change
// nothing (modifiers, arrows) mark nothing, yet still rebuild the listing and rewrite the status line.
TEST_F(KeyHandlers, OnlyAChangedTextIsModifiedAndTheListingFollowsEveryChange) {
    EXPECT_FALSE(form->Modified);
    QTest::keyPress(form->ZBCommand, Qt::Key_Shift);
    QTest::keyRelease(form->ZBCommand, Qt::Key_Shift);
    EXPECT_FALSE(form->Modified);
    form->Sequence->clear();
    form->SetStatusText("stale");
    QTest::keyClick(form->ZBCommand, Qt::Key_End);
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(form->Sequence->count(), 8);
    EXPECT_EQ(form->StatusText(), "10 characters. Maximum = 127");

    // The press of a character key puts it in the text, and the listing shows it at once.
    QTest::keyClick(form->ZBCommand, Qt::Key_Home);
    QTest::keyPress(form->ZBCommand, 'x');
    EXPECT_TRUE(form->Modified);
    EXPECT_EQ(Listing(*form).first(), "x");
    QTest::keyRelease(form->ZBCommand, 'x');
    EXPECT_EQ(form->StatusText(), "11 characters. Maximum = 127");
    // Taken back, the text is the file's again.
    QTest::keyClick(form->ZBCommand, Qt::Key_Backspace);
    EXPECT_FALSE(form->Modified);
    EXPECT_EQ(Listing(*form).first(), "P Activate PTT");

    // A paste with the mouse is a change like any other.
    QApplication::clipboard()->setText("K");
    form->ZBCommand->paste();
    EXPECT_TRUE(form->Modified);
    EXPECT_EQ(Listing(*form).first(), "K Key transmitter");
}

TEST_F(KeyHandlers, CharactersWithoutASingleByteFormAreRefused) {
    form->ZBCommand->clear();
    for (const QString& typed : {QStringLiteral("a"), QString::fromUtf8("\u20ac"), QStringLiteral("b"),
                                 QString::fromUtf8("\u00e9")}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, typed);
        QApplication::sendEvent(form->ZBCommand, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, typed);
        QApplication::sendEvent(form->ZBCommand, &release);
    }
    EXPECT_EQ(form->MemoText(), QByteArray("ab\xe9"));
    QApplication::clipboard()->setText(QString::fromUtf8("x\u0416y"));
    form->ZBCommand->paste();
    EXPECT_EQ(form->MemoText(), QByteArray("ab\xe9"));
    QApplication::clipboard()->setText(QString::fromLatin1("P\xfc"));
    form->ZBCommand->paste();
    EXPECT_EQ(form->MemoText(), QByteArray("ab\xe9P\xfc"));
}

TEST_F(KeyHandlers, TabMovesTheFocusInsteadOfTyping) {
    QTest::keyPress(form->ZBCommand, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form->ReadBeacon));
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Tab);  // the release reaches the new focus
    EXPECT_EQ(form->MemoText(), QByteArray("PSDvvvSQSZ"));
    EXPECT_FALSE(form->Modified);  // Tab types nothing
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form->ProgramBeacon));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form->Button1));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form->Sequence));
}

TEST_F(KeyHandlers, InsertItemReplacesTheSelectionAndLeavesTheStatus) {
    form->SetStatusText("10 characters. Maximum = 127");
    SelectAll();
    form->KKeyTransmitter1->trigger();
    EXPECT_EQ(form->MemoText(), QByteArray("K"));
    EXPECT_EQ(Listing(*form), QStringList{"K Key transmitter"});
    EXPECT_TRUE(form->Modified);  // the text changed
    EXPECT_EQ(form->StatusText(), "10 characters. Maximum = 127");
    // With no selection the letter goes in at the caret, and the caret ends after it.
    QTextCursor c = form->ZBCommand->textCursor();
    c.setPosition(0);
    form->ZBCommand->setTextCursor(c);
    form->PActivatePTT1->trigger();
    form->T01secondwait1->trigger();
    EXPECT_EQ(form->MemoText(), QByteArray("PTK"));
    EXPECT_EQ(form->ZBCommand->textCursor().position(), 2);
    EXPECT_EQ(Listing(*form), (QStringList{"P Activate PTT", "T Wait 0.1 seconds", "K Key transmitter"}));
}

TEST_F(KeyHandlers, InsertItemsTypeTheirLetterWhateverTheDisplayedCaption) {
    // Some desktops add access-key marks to menu captions; the letter typed stays the command letter.
    form->SetMemoText("");
    form->A5wpm1->setText("&A  5 wpm");
    form->ZEndofMessage1->setText("Z  End of &Message");
    form->A5wpm1->trigger();
    form->ZEndofMessage1->trigger();
    form->Synchronized->trigger();  // sets the captions of D and W afresh
    form->D21wpm1->trigger();
    form->WWaitforexternaltrigger1->trigger();
    EXPECT_EQ(form->MemoText(), QByteArray("AZDW"));
}

TEST_F(KeyHandlers, InsertMenuHoldsTheItemsInOrderInBothModes) {
    auto visibleCaptions = [&] {
        QStringList captions;
        for (QAction* a : form->Edit1->actions()) {
            if (!a->isVisible()) continue;
            captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
        return captions;
    };
    const QStringList normal = {"A  5 wpm",
                                "B  10 wpm",
                                "C  15 wpm",
                                "D 21 wpm",
                                "E  52 wpm",
                                "-",
                                "P  Activate PTT",
                                "Q  Release PTT",
                                "-",
                                "K  Key Transmitter",
                                "U  Unkey Transmitter",
                                "-",
                                "T  0.1 second wait",
                                "S  1 second wait",
                                "F  5 second wait",
                                "O  1 minute wait",
                                "V  10 minute wait",
                                "N  Cancel 10 minute wait",
                                "W Wait for external trigger",
                                "-",
                                "R  QRSS Mode",
                                "I  Stop QRSS",
                                "-",
                                "X  Extra Low Power",
                                "L  Low Power",
                                "M  Medium Power",
                                "H  High Power",
                                "-",
                                "Z  End of Message"};
    EXPECT_EQ(visibleCaptions(), normal);
    form->Synchronized->trigger();
    const QStringList sync = {"B  10 wpm",
                              "C  15 wpm",
                              "D 20 wpm",
                              "-",
                              "P  Activate PTT",
                              "Q  Release PTT",
                              "-",
                              "K  Key Transmitter",
                              "U  Unkey Transmitter",
                              "-",
                              "T  0.1 second wait",
                              "S  1 second wait",
                              "W Wait for GPS trigger",
                              "-",
                              "X  Extra Low Power",
                              "L  Low Power",
                              "M  Medium Power",
                              "H  High Power",
                              "-",
                              "Z  End of Message"};
    EXPECT_EQ(visibleCaptions(), sync);
    // Every item types its own letter in both modes.
    for (bool synchronized : {true, false}) {
        if (form->Synchronized->isChecked() != synchronized) form->Synchronized->trigger();
        for (QAction* a : form->Edit1->actions()) {
            if (a->isSeparator() || !a->isVisible()) continue;
            form->ZBCommand->clear();
            a->trigger();
            EXPECT_EQ(form->MemoText(), a->text().left(1).toLatin1());
        }
    }
}

TEST_F(KeyHandlers, ShiftEnterBreaksTheLineLikeEnter) {
    form->ZBCommand->clear();
    Type("ab");
    QTest::keyClick(form->ZBCommand, Qt::Key_Return, Qt::ShiftModifier);
    Type("c");
    EXPECT_EQ(form->MemoText(), QByteArray("ab\r\nc"));
    EXPECT_EQ(form->ZBCommand->document()->blockCount(), 2);
    EXPECT_EQ(form->StatusText(), "5 characters. Maximum = 127");
}

// The window shows the hint in its status bar while the memo holds such a callsign, without asking
// anything or changing the listing, whatever put the text there.
TEST_F(KeyHandlers, ACallsignInCapitalsShowsAHintThatBlocksNothing) {
    EXPECT_TRUE(form->CapitalsHint->isHidden());
    QTest::keyClick(form->ZBCommand, Qt::Key_End);
    Type(" de G4ABC");
    EXPECT_FALSE(form->CapitalsHint->isHidden());
    EXPECT_EQ(form->CapitalsHint->text(), "Capital letters are commands: write Morse text in lower case");
    EXPECT_EQ(form->StatusText(), "19 characters. Maximum = 127");
    EXPECT_EQ(form->Sequence->count(), 8);  // after Z nothing is decoded; the text stays as typed
    EXPECT_EQ(harness.Dialogs.Log.size(), 0);
    SelectAll();
    QApplication::clipboard()->setText("PSD de g4abc SZ");
    form->ZBCommand->paste();
    EXPECT_TRUE(form->CapitalsHint->isHidden());
    QApplication::clipboard()->setText("XX1XXX");
    form->ZBCommand->paste();
    EXPECT_FALSE(form->CapitalsHint->isHidden());
}

// The Insert menu and the decoder come from one vocabulary: in either mode every item types a letter
// that decodes to a row of its own, named by the item's caption, and the items hidden for a synchronized
// beacon are exactly the commands the synchronized check reports.
TEST_F(KeyHandlers, EveryInsertItemDecodesToItsOwnCommand) {
    for (const bool sync : {false, true}) {
        SCOPED_TRACE(sync ? "synchronized" : "normal");
        if (form->Synchronized->isChecked() != sync) form->Synchronized->trigger();
        int items = 0;
        for (QAction* item : form->Edit1->actions()) {
            if (item->isSeparator()) continue;
            ++items;
            form->SetMemoText("");
            item->trigger();
            const QByteArray memo = form->MemoText();
            ASSERT_EQ(memo.size(), 1) << item->text().toStdString();
            const QChar letter = QLatin1Char(memo.at(0));
            EXPECT_EQ(Listing(*form), QStringList{QString::fromLatin1(Commands::ListingEntry(letter, sync))});
            EXPECT_EQ(Listing(*form).value(0).left(1), item->text().left(1));
            EXPECT_EQ(item->isVisible(), !(sync && Commands::IsIncompatibleWithSynchronized(letter)));
        }
        EXPECT_EQ(items, 23);
    }
}

// Text pasted with the mouse is counted and checked against the limit like typed text.
TEST_F(KeyHandlers, APasteIsCountedAndCheckedAgainstTheLimit) {
    form->SetMemoText("");
    QApplication::clipboard()->setText(QString(130, QLatin1Char('v')));
    form->ZBCommand->paste();
    EXPECT_EQ(form->StatusText(), "130 characters. Maximum = 127");
    EXPECT_EQ(form->TellCaption(), "Beacon Message too long!");
    form->SetMemoText("");
    QApplication::clipboard()->setText(QStringLiteral("PSDvvvSQSZ"));
    form->ZBCommand->paste();
    EXPECT_EQ(form->StatusText(), "10 characters. Maximum = 127");
    EXPECT_EQ(form->TellCaption(), "");
}
