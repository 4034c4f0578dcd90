// The debug window's menu item, the help page and the About box.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QScrollBar>
#include <QTest>

#include "app/HelpWindow.h"
#include "device/VaComm.h"
#include "platform/serial/Serial.h"
#include "support/FormHarness.h"
#include "support/PtyPair.h"

namespace {
class Shell : public ::testing::Test {
protected:
    void SetUp() override { form = &harness.Start(); }
    FormHarness harness;
    TForm1* form = nullptr;
};
}  // namespace

TEST(ApplicationTitleTest, FirstLetterKeptRestLowered) {
    EXPECT_EQ(ApplicationTitle("/usr/local/bin/ZBeacon"), "Zbeacon");
    EXPECT_EQ(ApplicationTitle("ZBEACON.exe"), "Zbeacon");
    EXPECT_EQ(ApplicationTitle("zB"), "zb");
}

TEST_F(Shell, AboutShowsTheProgramNameAndVersion) {
    form->About1->trigger();
    ASSERT_EQ(harness.Dialogs.Count("Message"), 1);
    const ScriptedDialogs::Asked& box = harness.Dialogs.Log.last();
    EXPECT_EQ(box.Title, QApplication::applicationName());
    const QStringList lines = box.Text.split("\r\n");
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], "Zindle Beacon Setup Program");
    EXPECT_EQ(lines[1], QString(15, ' ') + "Version 2.0");
    EXPECT_EQ(lines[2], "");
    EXPECT_TRUE(lines[3].startsWith(QString(15, ' ') + "by ")) << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith(QString(10, ' ') + "http")) << lines[4].toStdString();
    EXPECT_NE(lines[4].at(10), ' ');
}

// F1 in either window shows the help page in the desktop's web browser. A missing page is reported.
TEST_F(Shell, HelpOpensThePageNextToTheProgramFromEitherWindow) {
    const QString page = harness.PathOf("zbeacon.html");
    ASSERT_FALSE(QFileInfo::exists(page));
    harness.Dialogs.AllowUnscriptedErrors = true;
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    QTest::keyClick(form->ZBCommand, Qt::Key_F1);
    EXPECT_EQ(harness.Dialogs.Errors, QStringList{"Cannot open file " + page});
    EXPECT_TRUE(harness.Dialogs.Documents.isEmpty());

    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    form->DebugWindow->trigger();
    harness.Debug().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&harness.Debug()));
    QTest::keyClick(harness.Debug().Memo, Qt::Key_F1);
    EXPECT_EQ(harness.Dialogs.Documents, QStringList{page});
    EXPECT_EQ(harness.Dialogs.Errors.size(), 1);
    EXPECT_EQ(form->HelpWindow, nullptr);
}

// With no web browser registered, the page shows in the program's own help window: rendered, with links
// that work, and saying where an installed program keeps its files. F1 again brings the same window back.
TEST_F(Shell, WithoutABrowserHelpShowsInTheProgramsOwnWindow) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZB_HELP_PAGE), harness.PathOf("zbeacon.html")));
    harness.Dialogs.WebBrowser = false;
    form->Help2->trigger();
    ASSERT_NE(form->HelpWindow, nullptr);
    THelpWindow* help = form->HelpWindow;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
    EXPECT_EQ(help->windowTitle(), "Zindle Beacon Setup - Help");
    const QString text = help->Browser->toPlainText();
    EXPECT_TRUE(text.startsWith("Zindle Beacon Setup\n")) << text.left(80).toStdString();
    EXPECT_FALSE(text.contains("<h2")) << "shown as source";
    EXPECT_TRUE(text.contains("~/.config/zbeacon/"));

    // The "Files" link of the contents leads down to its section.
    QScrollBar* scroll = help->Browser->verticalScrollBar();
    ASSERT_EQ(scroll->value(), 0);
    const QTextCursor link = help->Browser->document()->find(
        "Files", 0, QTextDocument::FindCaseSensitively | QTextDocument::FindWholeWords);
    ASSERT_FALSE(link.isNull());
    QTextCursor inside(help->Browser->document());
    inside.setPosition(link.selectionStart() + 2);
    const QPoint at = help->Browser->cursorRect(inside).center();
    QTest::mouseClick(help->Browser->viewport(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scroll->value() > 0; }, 5000));

    help->close();
    form->Help2->trigger();
    EXPECT_EQ(form->HelpWindow, help);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(harness.Dialogs.Count("Error"), 0);
}

TEST_F(Shell, DebugWindowFollowsItsTickNotItsCloseBox) {
    TDebug& debug = harness.Debug();
    EXPECT_FALSE(debug.isVisible());
    form->DebugWindow->trigger();
    EXPECT_TRUE(form->DebugWindow->isChecked());
    EXPECT_TRUE(debug.isVisible());
    form->DebugWindow->trigger();
    EXPECT_FALSE(form->DebugWindow->isChecked());
    EXPECT_FALSE(debug.isVisible());

    // Closed by its own close box: hidden, the item stays ticked; it then takes two choices to show it.
    form->DebugWindow->trigger();
    debug.close();
    EXPECT_FALSE(debug.isVisible());
    EXPECT_TRUE(form->DebugWindow->isChecked());
    form->DebugWindow->trigger();
    EXPECT_FALSE(form->DebugWindow->isChecked());
    EXPECT_FALSE(debug.isVisible());
    form->DebugWindow->trigger();
    EXPECT_TRUE(debug.isVisible());
    // Closing the debug window never closes the program's main window.
    debug.close();
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Shell, DebugWindowMirrorsReceivedTextOnlyWhileTicked) {
    PtyPair pty;
    Serial::SetPortMap({{6, pty.SlavePath()}});
    form->Com->SetPortNum(6);
    form->Com->Open();
    QPlainTextEdit* memo = harness.Debug().Memo;
    auto receive = [&](const char* text) {
        const QByteArray expected = form->Engine->ReceivedText() + text;
        ASSERT_TRUE(pty.Write(text));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->Engine->ReceivedText() == expected; }, 5000));
    };

    receive("one\r\n");
    EXPECT_EQ(memo->toPlainText(), "");  // not ticked: not updated
    form->DebugWindow->trigger();
    EXPECT_EQ(memo->toPlainText(), "");  // ticking shows the old text until the next data event
    receive("two");
    EXPECT_EQ(memo->toPlainText(), "one\ntwo");
    memo->setPlainText("typed by the operator");
    receive("!");
    EXPECT_EQ(memo->toPlainText(), "one\ntwo!");
    form->DebugWindow->trigger();
    receive("three");
    EXPECT_EQ(memo->toPlainText(), "one\ntwo!");
    // Hidden by its close box but still ticked: the text is still mirrored.
    form->DebugWindow->trigger();
    harness.Debug().close();
    receive("four");
    EXPECT_EQ(memo->toPlainText(), "one\ntwo!threefour");
    // A line break split between two chunks is still one line break.
    form->Engine->SetReceivedText({});
    receive("five\r");
    receive("\nsix");
    EXPECT_EQ(memo->toPlainText(), "five\nsix");
    form->Com->Close();
    Serial::SetPortMap({});
}

// The windows carry the program's icon (built into the program, so a run from the build shows it too),
// and the desktop learns which entry the program belongs to, for its name and icon on taskbars.
TEST_F(Shell, WindowsCarryTheProgramIconAndNameTheirDesktopEntry) {
    EXPECT_TRUE(form->windowIcon().isNull());
    SetApplicationIdentity();
    EXPECT_EQ(QGuiApplication::desktopFileName(), "org.example.ZindleBeaconSetup");
    const QPixmap icon = form->windowIcon().pixmap(48, 48);
    ASSERT_FALSE(icon.isNull());
    // The icon's blue field, not an empty or placeholder picture.
    const QColor middle = icon.toImage().pixelColor(icon.width() / 2, icon.height() * 3 / 4);
    EXPECT_GT(middle.blue(), middle.red()) << middle.name().toStdString();
    EXPECT_EQ(harness.Debug().windowIcon().cacheKey(), form->windowIcon().cacheKey());
    QApplication::setWindowIcon(QIcon());
}
