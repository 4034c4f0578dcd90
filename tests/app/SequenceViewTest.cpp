// Drawing of the sequence listing: the fill colour of each row by its text, the mode and the selection.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include "support/FormHarness.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace {

// Counts the memory blocks that this thread allocates while a count runs (through the sanitizer's
// allocation hooks, so operator new and malloc alike).
class AllocationCount {
public:
    static bool Available() {
#if defined(__SANITIZE_ADDRESS__)
        static const bool installed = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree) != 0;
        return installed;
#else
        return false;
#endif
    }
    AllocationCount() {
        blocks_ = 0;
        counting_ = true;
    }
    ~AllocationCount() {
        counting_ = false;
    }
    long Blocks() const {
        return blocks_;
    }

private:
    static void OnMalloc(const volatile void*, size_t) {
        if (counting_) ++blocks_;
    }
    static void OnFree(const volatile void*) {}
    static thread_local bool counting_;
    static thread_local long blocks_;
};
thread_local bool AllocationCount::counting_ = false;
thread_local long AllocationCount::blocks_ = 0;

const QColor kCyan(192, 255, 255);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

class SequenceView : public ::testing::Test {
protected:
    void SetUp() override { form = &harness.Start(); }

    void Show(const QByteArray& memo) {
        form->SetMemoText(memo);
        form->UpdateSequence();
    }

    QImage Render() {
        QCoreApplication::processEvents();  // the list lays its rows out lazily
        return form->Sequence->viewport()->grab().toImage();
    }

    // Fill colour of a row, sampled at its right end where no text is drawn.
    QColor Fill(const QImage& image, int row) { return image.pixelColor(image.width() - 6, row * 16 + 8); }

    // Columns of the row that hold a dark (text) pixel.
    static QVector<int> InkColumns(const QImage& image, int row) {
        QVector<int> columns;
        for (int x = 0; x < image.width(); ++x) {
            for (int y = row * 16; y < row * 16 + 16; ++y) {
                if (image.pixelColor(x, y).lightness() < 100) {
                    columns << x;
                    break;
                }
            }
        }
        return columns;
    }

    FormHarness harness;
    TForm1* form = nullptr;
};

}  // namespace

TEST_F(SequenceView, MessageRowsAreWhiteAndCommandRowsKeepTheListColour) {
    Show("PSDvvvSQSZ");
    const QImage image = Render();
    for (int row : {0, 1, 2, 4, 5, 6, 7})
        EXPECT_EQ(Fill(image, row), kCyan) << row;
    EXPECT_EQ(Fill(image, 3), kWhite);
    // Below the last row the list shows its own background.
    EXPECT_EQ(image.pixelColor(image.width() - 6, 8 * 16 + 8), kCyan);

    // A selected message row stays white, and its text stays readable on it.
    form->Sequence->setCurrentRow(3);
    const QImage selected = Render();
    EXPECT_EQ(Fill(selected, 3), kWhite);
    EXPECT_FALSE(InkColumns(selected, 3).isEmpty());
}

TEST_F(SequenceView, RowsThatStartWithGJOrYLookLikeCommands) {
    Show("Gx\nK\nJy\nK\n9");
    const QImage image = Render();
    EXPECT_EQ(Fill(image, 0), kCyan);
    EXPECT_EQ(Fill(image, 2), kCyan);
    EXPECT_EQ(Fill(image, 4), kWhite);
}

TEST_F(SequenceView, IncompatibleCommandsAreRedOnlyInSynchronizedMode) {
    Show("PSDvvvSQSZ");
    form->Synchronized->trigger();
    form->SetTellCaption("untouched");
    QImage image = Render();
    for (int row = 0; row < 8; ++row)
        EXPECT_NE(Fill(image, row), kRed) << row;
    EXPECT_EQ(form->TellCaption(), "untouched");

    Show("APSZ");
    image = Render();
    EXPECT_EQ(Fill(image, 0), kRed);
    EXPECT_EQ(Fill(image, 1), kCyan);
    EXPECT_EQ(form->TellCaption(), "Contains commands incompatible with Synchronized Beacon!");
    EXPECT_EQ(form->TellColor(), kRed);
    EXPECT_EQ(form->TellFontColor(), kWhite);

    // Every hidden letter is drawn red; the others are not.
    Show("BCDHKLMPQSTUWX");
    image = Render();
    for (int row = 0; row < 14; ++row)
        EXPECT_EQ(Fill(image, row), kCyan) << row;
    Show("AEFORIVN");
    image = Render();
    for (int row = 0; row < 8; ++row)
        EXPECT_EQ(Fill(image, row), kRed) << row;

    // Turning the option off recolours at the next drawing but leaves the alarm where it is.
    form->Synchronized->trigger();
    image = Render();
    EXPECT_EQ(Fill(image, 0), kCyan);
    EXPECT_EQ(form->TellCaption(), "Contains commands incompatible with Synchronized Beacon!");
    // ... until the next key release in the memo sets the strip.
    QTest::keyClick(form->ZBCommand, Qt::Key_End);
    EXPECT_EQ(form->TellCaption(), "");
}

TEST_F(SequenceView, EveryDecodeShowsTheListingFromTheTopAndRaisesTheAlarm) {
    form->Synchronized->trigger();
    Show("A" + QByteArray(40, 'S'));
    Render();
    form->Sequence->scrollToBottom();
    form->Sequence->setCurrentRow(form->Sequence->count() - 1);
    Render();
    ASSERT_GT(form->Sequence->verticalScrollBar()->value(), 0);
    // A keystroke decodes the memo again: the listing is back at its first row and the alarm is up,
    // before anything is drawn.
    form->SetTellCaption("");
    form->ZBCommand->setFocus();
    QTest::keyClick(form->ZBCommand, Qt::Key_End);
    EXPECT_EQ(form->TellCaption(), "Contains commands incompatible with Synchronized Beacon!");
    const QImage image = Render();
    EXPECT_EQ(form->Sequence->verticalScrollBar()->value(), 0);
    EXPECT_EQ(form->Sequence->currentRow(), -1);
    EXPECT_EQ(Fill(image, 0), kRed);
}

// The alarm follows the text, not the drawing: an incompatible command below the rows on screen raises
// it at once, and it goes with the command at the next key release, the length alarm taking its place
// when the text is too long.
TEST_F(SequenceView, AnIncompatibleCommandOutOfViewRaisesTheAlarm) {
    form->Synchronized->trigger();
    form->SetTellCaption("untouched");
    Show(QByteArray(40, 'S') + "A");
    EXPECT_EQ(form->TellCaption(), "Contains commands incompatible with Synchronized Beacon!");
    EXPECT_EQ(form->TellColor(), kRed);
    EXPECT_EQ(form->TellFontColor(), kWhite);
    const QImage image = Render();
    ASSERT_GT(form->Sequence->visualItemRect(form->Sequence->item(40)).top(), image.height());

    // Too long as well: the incompatibility alarm goes first.
    form->MaxChar = 10;
    form->ZBCommand->setFocus();
    QTest::keyClick(form->ZBCommand, Qt::Key_End);
    EXPECT_EQ(form->TellCaption(), "Contains commands incompatible with Synchronized Beacon!");
    QTest::keyClick(form->ZBCommand, Qt::Key_Backspace);
    EXPECT_EQ(form->TellCaption(), "Beacon Message too long!");
    form->MaxChar = 99;
    QTest::keyClick(form->ZBCommand, Qt::Key_Backspace);
    EXPECT_EQ(form->TellCaption(), "");
    EXPECT_EQ(form->TellColor(), kWhite);
}

TEST_F(SequenceView, InNormalModeIncompatibleCommandsRaiseNothing) {
    form->SetTellCaption("untouched");
    Show("A");
    EXPECT_EQ(Fill(Render(), 0), kCyan);
    EXPECT_EQ(form->TellCaption(), "untouched");
}

TEST_F(SequenceView, GpsMenuNoticeIsRedInBothModes) {
    for (bool sync : {false, true}) {
        if (form->Synchronized->isChecked() != sync) form->Synchronized->trigger();
        Show("K");
        form->Sequence->addItem("GPS Menu set to programmed beacon slots");
        const QImage image = Render();
        EXPECT_EQ(Fill(image, 0), kCyan);
        EXPECT_EQ(Fill(image, 1), kRed);
    }
}

TEST_F(SequenceView, TextIsTrimmedAndDrawnTwoPixelsIn) {
    Show("x\nK\n   x");
    const QImage image = Render();
    const QVector<int> plain = InkColumns(image, 0);
    const QVector<int> padded = InkColumns(image, 2);
    ASSERT_FALSE(plain.isEmpty());
    EXPECT_EQ(plain, padded);  // leading spaces are not drawn
    EXPECT_GE(plain.first(), 2);
    EXPECT_LE(plain.first(), 6);
    // Nothing is drawn in the first two pixel rows of any row.
    for (int row = 0; row < 3; ++row) {
        for (int x = 0; x < image.width(); ++x) {
            EXPECT_GT(image.pixelColor(x, row * 16).lightness(), 100);
            EXPECT_GT(image.pixelColor(x, row * 16 + 1).lightness(), 100);
        }
    }
    EXPECT_EQ(Fill(image, 2), kWhite);  // a row beginning with a space is a message row
}

TEST_F(SequenceView, SelectionColourShowsOnlyWhereNoRuleApplies) {
    form->Synchronized->trigger();
    Show("KxA");
    form->Sequence->addItem("GPS Menu set to programmed beacon slots");
    const QColor highlight = form->Sequence->palette().color(QPalette::Highlight);
    ASSERT_NE(highlight, kCyan);
    for (int row = 0; row < 4; ++row) {
        form->Sequence->setCurrentRow(row);
        const QImage image = Render();
        const QColor expected[] = {highlight, kWhite, kRed, kRed};
        EXPECT_EQ(Fill(image, row), expected[row]) << row;
    }
}

// Text is never cut: in the font the system chose for the designed one, in a taller one (what a machine
// without a metric-compatible font gets) and in one far too large for the row, the row shows every
// glyph whole (as tall as the font it was drawn in makes it), and no higher than 2 pixels from its top.
TEST_F(SequenceView, GlyphsStayInsideTheirRowWhateverTheFont) {
    QFont taller(QStringLiteral("DejaVu Sans Mono"));
    taller.setPixelSize(15);
    taller.setBold(true);
    QFont huge = form->Sequence->font();
    huge.setPixelSize(26);
    for (const QFont& font : {form->Sequence->font(), taller, huge}) {
        for (const QString& text : {QStringLiteral("|gjpqy_([{}])"), QStringLiteral("Wg$@"),
                                    QStringLiteral("Set speed to 5 wpm")}) {
            SCOPED_TRACE(QFontInfo(font).family().toStdString() + " " + std::to_string(font.pixelSize()) +
                         " " + text.toStdString());
            form->Sequence->clear();
            form->Sequence->addItem(text);
            QImage image(600, 16, QImage::Format_RGB32);
            image.fill(kWhite);
            QPainter painter(&image);
            TCanvas canvas{&painter, font, kCyan, QColor(0, 0, 0)};
            form->SequenceDrawItem(canvas, 0, image.rect());
            const QRect whole = QFontMetrics(painter.font()).tightBoundingRect(text);  // the font drawn in
            painter.end();
            // Dark ink marks where the text begins; its faint edges too (a font engine without hinting
            // draws the top and bottom rows of a glyph light) count for whether it is whole.
            QVector<int> inkLines, edgeLines;
            for (int y = 0; y < 16; ++y) {
                int darkest = 255;
                for (int x = 0; x < image.width(); ++x)
                    darkest = std::min(darkest, image.pixelColor(x, y).lightness());
                if (darkest < 100) inkLines << y;
                if (darkest < 230) edgeLines << y;
            }
            ASSERT_FALSE(inkLines.isEmpty());
            EXPECT_GE(inkLines.first(), 2);
            EXPECT_GE(edgeLines.last() - edgeLines.first() + 1, whole.height()) << "glyphs cut by the row";
            EXPECT_GE(whole.height(), 9) << "text shrunk away";
        }
    }
}

TEST_F(SequenceView, RowsAreSixteenPixelsHigh) {
    Show("PSDvvvSQSZ");
    EXPECT_EQ(form->Sequence->visualItemRect(form->Sequence->item(0)).height(), 16);
    EXPECT_EQ(form->Sequence->visualItemRect(form->Sequence->item(5)).top(), 80);
}

// The listing is a view over the decoded rows: a text of a hundred thousand rows is decoded, shown and
// drawn with a number of allocations that does not grow with the rows (none per row), and the rows on
// screen read as they always did.
TEST_F(SequenceView, ALongTextCostsWhatIsOnScreenNotOneObjectPerRow) {
    if (!AllocationCount::Available()) GTEST_SKIP() << "allocations are counted by the sanitizer's hooks";
    QByteArray text;
    for (int i = 0; i < 50000; ++i)
        text += "Kab\r\n";  // two rows each: a command and a message run
    Show("PSDvvvSQSZ");
    Render();  // the fonts and the drawing surface are made once, before counting
    form->SetMemoText(text);
    long blocks = 0;
    {
        const AllocationCount count;
        form->UpdateSequence();
        Render();
        blocks = count.Blocks();
    }
    ASSERT_EQ(form->Sequence->count(), 100000);
    EXPECT_LT(blocks, 2000);
    EXPECT_EQ(form->Sequence->item(0)->text(), "K Key transmitter");
    EXPECT_EQ(form->Sequence->item(99999)->text(), "ab");
    form->Sequence->scrollToBottom();
    const QImage image = Render();
    const QRect last = form->Sequence->visualItemRect(form->Sequence->item(99999));
    const QRect before = form->Sequence->visualItemRect(form->Sequence->item(99998));
    EXPECT_EQ(image.pixelColor(image.width() - 6, last.center().y()), kWhite);
    EXPECT_EQ(image.pixelColor(image.width() - 6, before.center().y()), kCyan);
}
