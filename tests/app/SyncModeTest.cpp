// Synchronized mode and the character limit.
#include <gtest/gtest.h>

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QTest>

#include "support/FormHarness.h"

namespace {

class SyncMode : public ::testing::Test {
protected:
    void SetUp() override { form = &harness.Start(); }
    QList<QAction*> HiddenInSync() {
        return {form->A5wpm1,        form->E52wpm1,         form->F5secondwait1,
                form->O1minutewait1, form->Vwait10minutes1, form->NCancelLongDelay1,
                form->RQRSSMode1,    form->IStopQRSS1,      form->N8};
    }
    void ExpectMode(bool sync) {
        EXPECT_EQ(form->Synchronized->isChecked(), sync);
        for (QAction* a : HiddenInSync())
            EXPECT_EQ(a->isVisible(), !sync) << a->objectName().toStdString();
        for (QAction* a : form->Edit1->actions()) {
            if (!HiddenInSync().contains(a)) {
                EXPECT_TRUE(a->isVisible()) << a->objectName().toStdString();
            }
        }
        EXPECT_EQ(form->D21wpm1->text(), sync ? "D 20 wpm" : "D 21 wpm");
        EXPECT_EQ(form->WWaitforexternaltrigger1->text(),
                  sync ? "W Wait for GPS trigger" : "W Wait for external trigger");
        EXPECT_EQ(form->MaxChar, sync ? 99 : 127);
        EXPECT_EQ(form->GPSMenu->menuAction()->isVisible(), sync);
    }
    QString LimitCaption() {
        emit form->Options1->aboutToShow();
        return form->SetCharacterLimit1->text();
    }
    FormHarness harness;
    TForm1* form = nullptr;
};

}  // namespace

TEST_F(SyncMode, StartsNormalAndTogglesTheWholeTableBothWays) {
    ExpectMode(false);
    form->Synchronized->trigger();
    ExpectMode(true);
    form->Synchronized->trigger();
    ExpectMode(false);
    form->SynchronizedClick(form->Synchronized);  // the handler flips the tick itself
    ExpectMode(true);
}

TEST_F(SyncMode, TogglingReplacesAHandSetLimit) {
    harness.Dialogs.InputAnswers.enqueue(QString("50"));
    form->SetCharacterLimit1->trigger();
    EXPECT_EQ(form->MaxChar, 50);
    form->Synchronized->trigger();
    EXPECT_EQ(form->MaxChar, 99);
    harness.Dialogs.InputAnswers.enqueue(QString("50"));
    form->SetCharacterLimit1->trigger();
    form->Synchronized->trigger();
    EXPECT_EQ(form->MaxChar, 127);
}

TEST_F(SyncMode, TogglingDoesNotRebuildTheListing) {
    form->SetMemoText("W");
    form->UpdateSequence();
    form->SetStatusText("kept");
    form->Synchronized->trigger();
    EXPECT_EQ(form->Sequence->item(0)->text(), "W Wait for External Trigger");
    EXPECT_EQ(form->StatusText(), "kept");
    QTest::keyClick(form->ZBCommand, Qt::Key_End);
    EXPECT_EQ(form->Sequence->item(0)->text(), "W Wait for GPS Trigger");
}

TEST_F(SyncMode, LimitDialogConvertsTheEntry) {
    struct Case {
        const char* entry;
        int32_t limit;
    };
    const Case cases[] = {{"50", 50},
                          {"  42", 42},
                          {"-7", -7},
                          {"+8", 8},
                          {"0", 0},
                          {"abc", 127},
                          {"", 127},
                          {"12 ", 127},
                          {"1 2", 127},
                          {"2147483647", 2147483647},
                          {"2147483648", 127},
                          {"-2147483648", INT32_MIN},
                          {"-2147483649", 127},
                          {"0x20", 32}};
    for (const Case& c : cases) {
        form->MaxChar = 1;
        harness.Dialogs.InputAnswers.enqueue(QString(c.entry));
        form->SetCharacterLimit1->trigger();
        EXPECT_EQ(form->MaxChar, c.limit) << c.entry;
    }
    // The dialog is titled, prompts, and starts from the current limit.
    form->MaxChar = 77;
    harness.Dialogs.InputAnswers.enqueue(std::nullopt);  // Cancel
    form->SetCharacterLimit1->trigger();
    EXPECT_EQ(form->MaxChar, 77);
    EXPECT_EQ(harness.Dialogs.Log.last().Title, "Beacon Character Limit");
    EXPECT_EQ(harness.Dialogs.Log.last().Text, "Maximum: ");
    EXPECT_EQ(harness.Dialogs.InputInitialValues.last(), "77");
}

TEST_F(SyncMode, OptionsMenuShowsTheCurrentLimit) {
    EXPECT_EQ(LimitCaption(), "Change Character Limit (127) ...");
    form->Synchronized->trigger();
    EXPECT_EQ(LimitCaption(), "Change Character Limit (99) ...");
    harness.Dialogs.InputAnswers.enqueue(QString("-3"));
    form->SetCharacterLimit1->trigger();
    EXPECT_EQ(LimitCaption(), "Change Character Limit (-3) ...");
}

TEST_F(SyncMode, NewLimitAppliesAtTheNextKeyRelease) {
    harness.Dialogs.InputAnswers.enqueue(QString("5"));
    form->SetCharacterLimit1->trigger();
    EXPECT_EQ(form->TellCaption(), "");
    QTest::keyClick(form->ZBCommand, Qt::Key_End);
    EXPECT_EQ(form->StatusText(), "10 characters. Maximum = 5");
    EXPECT_EQ(form->TellCaption(), "Beacon Message too long!");
}
