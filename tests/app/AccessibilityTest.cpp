// The window as assistive technology meets it: names and descriptions, rows that say what they are, the
// row count and the strip's captions told without flooding, and the keyboard.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include "app/FocusReturn.h"
#include "support/BeaconRig.h"
#include "support/FormHarness.h"

namespace {

// What a signal of one string said, in order.
QStringList Said(const QSignalSpy& spy) {
    QStringList said;
    for (const QList<QVariant>& call : spy)
        said << call.at(0).toString();
    return said;
}

QAccessibleInterface* Accessible(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
}

QString NameOf(QObject* object) {
    return Accessible(object)->text(QAccessible::Name);
}

QString DescriptionOf(QObject* object) {
    return Accessible(object)->text(QAccessible::Description);
}

QString KeyBinding(QPushButton* button) {
    QAccessibleActionInterface* actions = Accessible(button)->actionInterface();
    if (actions == nullptr) return QString();
    return actions->keyBindingsForAction(QAccessibleActionInterface::pressAction()).value(0);
}

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override {
        form = &harness.Start();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    }

    // The listing's rows as assistive technology reads them: text and description.
    QStringList Rows() {
        QCoreApplication::processEvents();
        QAccessibleInterface* list = Accessible(form->Sequence);
        QStringList rows;
        for (int i = 0; i < list->childCount(); ++i) {
            QAccessibleInterface* row = list->child(i);
            rows << row->text(QAccessible::Name) + " | " + row->text(QAccessible::Description);
        }
        return rows;
    }

    FormHarness harness;
    TForm1* form = nullptr;
};

}  // namespace

TEST_F(Accessibility, ControlsHaveNamesAndDescriptions) {
    EXPECT_EQ(NameOf(form->ZBCommand), "Beacon Command String");
    EXPECT_FALSE(DescriptionOf(form->ZBCommand).isEmpty());
    EXPECT_EQ(NameOf(form->Sequence), "Beacon Sequence");
    EXPECT_EQ(Accessible(form->Sequence)->role(), QAccessible::List);
    EXPECT_EQ(DescriptionOf(form->Sequence), "8 rows");
    EXPECT_EQ(NameOf(form->ReadBeacon), "Read Beacon");
    EXPECT_EQ(NameOf(form->ProgramBeacon), "Program Beacon");
    EXPECT_EQ(NameOf(form->Button1), "Verify Beacon");
    for (QPushButton* button : {form->ReadBeacon, form->ProgramBeacon, form->Button1})
        EXPECT_FALSE(DescriptionOf(button).isEmpty()) << NameOf(button).toStdString();
    EXPECT_EQ(KeyBinding(form->ReadBeacon), "Alt+R");
    EXPECT_EQ(KeyBinding(form->ProgramBeacon), "Alt+P");
    EXPECT_EQ(KeyBinding(form->Button1), "Alt+V");

    // The strip is an alert whose name is its caption.
    EXPECT_EQ(Accessible(form->Tell)->role(), QAccessible::AlertMessage);
    EXPECT_FALSE(DescriptionOf(form->Tell).isEmpty());
    form->SetTellCaption("Beacon Sequence OK");
    EXPECT_EQ(NameOf(form->Tell), "Beacon Sequence OK");

    // The status bar and its line: the line's name is what it shows.
    EXPECT_EQ(NameOf(form->StatusBar1), "Status line");
    form->SetStatusText("10 characters. Maximum = 127");
    QAccessibleInterface* bar = Accessible(form->StatusBar1);
    QStringList lines;
    for (int i = 0; i < bar->childCount(); ++i)
        lines << bar->child(i)->text(QAccessible::Name);
    EXPECT_TRUE(lines.contains("10 characters. Maximum = 127")) << lines.join(", ").toStdString();

    EXPECT_EQ(NameOf(harness.Debug().Memo), "Received from the beacon");
    EXPECT_FALSE(DescriptionOf(harness.Debug().Memo).isEmpty());
}

// Each row says whether it is a command, text sent in Morse, a command that the synchronized beacon does
// not carry (in synchronized mode) or the notice of a beacon read, beside the text that it shows.
TEST_F(Accessibility, RowsSayWhatTheyAre) {
    form->SetMemoText("PA vvv \r\nKGx SZ");
    form->UpdateSequence();
    EXPECT_EQ(Rows(),
              (QStringList{"P Activate PTT | command", "A Set speed to 5 wpm | command",
                           "vvv | text sent in Morse", "K Key transmitter | command",
                           "Gx | text sent in Morse", "S Wait 1 second | command", "Z End | command"}));

    form->Synchronized->trigger();
    form->AddListingNotice("GPS Menu set to programmed beacon slots");
    const QStringList rows = Rows();
    ASSERT_EQ(rows.size(), 8);
    EXPECT_EQ(rows[1], "A Set speed to 5 wpm | not supported by a synchronized beacon");
    EXPECT_EQ(rows[3], "K Key transmitter | command");
    EXPECT_EQ(rows[4], "Gx | text sent in Morse");  // a run of text that begins like a command
    EXPECT_EQ(rows[7], "GPS Menu set to programmed beacon slots | notice");
}

// Typing that changes the row count at every key tells the count once at once and once more when the
// typing pauses, not at every key.
TEST_F(Accessibility, RowCountIsToldWithoutFlooding) {
    form->SetMemoText("");
    form->UpdateSequence();
    ASSERT_TRUE(QTest::qWaitFor([&] { return DescriptionOf(form->Sequence) == "0 rows"; }));
    const QSignalSpy told(form->Sequence, &SequenceList::CountAnnouncement);
    form->ZBCommand->setFocus();
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(form->ZBCommand, 'K');  // one command row each
    ASSERT_EQ(form->Sequence->count(), 12);
    EXPECT_LE(told.size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return DescriptionOf(form->Sequence) == "12 rows"; }));
    EXPECT_LE(told.size(), 2) << Said(told).join(", ").toStdString();
    ASSERT_FALSE(told.isEmpty());
    EXPECT_EQ(Said(told).last(), "12 rows");
}

// The keys of the buttons, the menus (the GPS slots with their ticks) and the focus after each.
TEST_F(Accessibility, KeyboardReachesTheButtonsAndTheMenus) {
    // A button's key presses it (the focus stays where it was, where the key's release goes).
    auto press = [](Qt::Key key) {
        QTest::keyPress(QApplication::focusWidget(), key, Qt::AltModifier);
        QTest::keyRelease(QApplication::focusWidget(), key, Qt::AltModifier);
    };
    form->Sequence->setFocus();
    for (Qt::Key key : {Qt::Key_R, Qt::Key_P, Qt::Key_V}) {
        form->SetTellCaption("");
        press(key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->TellCaption() == "Select Comm Port"; })) << key;
        EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form->Sequence));
    }
    EXPECT_EQ(form->MemoText(), "PSDvvvSQSZ");  // Read Beacon ran, and without a port empties nothing

    form->Synchronized->trigger();  // shows the GPS menu
    QAccessibleInterface* first = Accessible(form->GPSMenu)->child(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->text(QAccessible::Name), "00 sec of even minutes");
    EXPECT_TRUE(first->state().checkable);
    EXPECT_TRUE(first->state().checked);

    // Alt+G opens the menu; Down and Enter tick the second slot, which the tree then shows ticked.
    press(Qt::Key_G);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() == form->GPSMenu; }));
    QTest::keyClick(form->GPSMenu, Qt::Key_Down);
    QTest::keyClick(form->GPSMenu, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activePopupWidget() == nullptr; }));
    EXPECT_TRUE(form->GPSSlots[1]->isChecked());
    EXPECT_TRUE(Accessible(form->GPSMenu)->child(1)->state().checked);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(form->Sequence));  // back where it was
}

// A dialog takes the focus away; when it goes, the window that had the focus gets it back, in the same
// control (a desktop without a window manager would leave no window with the keyboard).
TEST_F(Accessibility, TheFocusComesBackAfterADialog) {
    form->Sequence->setFocus();
    {
        const FocusReturn focusReturn(form);
        QWidget dialog;
        auto* edit = new QLineEdit(&dialog);
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        edit->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), edit);
        dialog.hide();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == form->Sequence; }));
    EXPECT_EQ(QApplication::activeWindow(), form);
}

// A Program operation of a synchronized beacon that sets one slot: each new caption of the strip is
// announced once, in order, and the upload's ticker, which changes the caption with every character,
// not at all.
TEST(StripAnnouncements, EachNewCaptionOnceAndNeverTheTicker) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.Synchronized->trigger();
    form.GPSSlots[6]->trigger();  // second 30 of even minutes, which the beacon lacks
    form.SetMemoText("PSDvvvSQSZ");
    const QSignalSpy announced(form.Tell, &AlertStrip::Announcement);

    form.ProgramBeacon->click();
    form.ProgramBeacon->click();  // the same caption again is not news
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitForSimState("Beaconing"));
    ASSERT_TRUE(rig.WaitFor([&] { return form.Engine->ReceivedText().endsWith("Beacon running\r\n"); }));
    EXPECT_EQ(rig.sim.Slots(), "100000100000100000000000");
    EXPECT_EQ(rig.sim.StoredProgram(), "PSDvvvSQSZ");

    EXPECT_EQ(Said(announced), (QStringList{"Check jumper. Turn beacon off and then on.",
                                            "Programming Beacon", "", "Set Slot 30"}));
    EXPECT_EQ(NameOf(form.Tell), "Set Slot 30");
}
