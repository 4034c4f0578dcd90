// The memo's clean-up after each chunk from the beacon: empty lines and the beacon's prompt lines go,
// everything else stays in order, with the caret where the operator left it.
#include <gtest/gtest.h>

#include <QTextCursor>

#include "support/FormHarness.h"

namespace {
class PromptLines : public ::testing::Test {
protected:
    void SetUp() override { form = &harness.Start(); }
    QByteArray Clean(const QByteArray& memo) {
        form->SetMemoText(memo);
        form->RemovePromptLines();
        return form->MemoText();
    }
    FormHarness harness;
    TForm1* form = nullptr;
};
}  // namespace

TEST_F(PromptLines, EmptyAndPromptLinesGoTheRestKeepsItsOrder) {
    EXPECT_EQ(Clean("PSDvvvSQSZ\r\nChange program? y/n"), QByteArray("PSDvvvSQSZ"));
    EXPECT_EQ(Clean("PSDvvvSQSZ\r\nChange program? y/n\r\n"), QByteArray("PSDvvvSQSZ"));
    EXPECT_EQ(Clean("a\r\n\r\n\r\nb\r\nEnter new program, end by Z.\r\nc\r\nxx Chg msg? y/n\r\n\r\nd"),
              QByteArray("a\r\nb\r\nc\r\nd"));
    EXPECT_EQ(Clean("\r\n\r\nChange program? y/n\r\n"), QByteArray());
    EXPECT_EQ(Clean("Change program? y/n"), QByteArray());
    EXPECT_EQ(Clean("ab\r\ncd"), QByteArray("ab\r\ncd"));
    // Only the exact texts count.
    EXPECT_EQ(Clean("change program? y/n\r\nChg msg? Y/N"),
              QByteArray("change program? y/n\r\nChg msg? Y/N"));
}

TEST_F(PromptLines, TheCaretStaysWithItsText) {
    form->SetMemoText("abc\r\n\r\ndef\r\n\r\nghi");
    form->TakeMemoAsUnchanged();
    QTextCursor caret = form->ZBCommand->textCursor();
    caret.setPosition(7);  // between "d" and "e"
    form->ZBCommand->setTextCursor(caret);
    form->RemovePromptLines();
    EXPECT_EQ(form->MemoText(), QByteArray("abc\r\ndef\r\nghi"));
    EXPECT_EQ(form->ZBCommand->textCursor().position(), 6);  // still between "d" and "e"
    EXPECT_TRUE(form->Modified);  // outside a Read: the text no longer matches the file
}
