// The main window under every installed desktop style, with the desktop's fonts at their usual size
// and much larger: every menu title shows in the menu bar, the client area keeps its designed layout,
// and every text keeps a readable contrast against what it is drawn on.
#include <gtest/gtest.h>

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QToolButton>
#include <cmath>
#include <functional>

#include "support/FormHarness.h"

namespace {

double Luminance(QRgb rgb) {
    auto channel = [](int v) {
        const double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}

double Contrast(QRgb a, QRgb b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of a text as drawn: `widget` is grabbed with the text and without it; where the two
// differ the text was drawn, and the strongest contrast there between the text and what lies beneath
// it is what the eye reads. 0 when no text was drawn at all.
double TextContrast(QWidget* widget, const std::function<void(bool)>& showText) {
    auto shown = [&](bool on) {
        showText(on);
        QCoreApplication::processEvents();  // lists lay their rows out later
        return widget->grab().toImage();
    };
    const QImage with = shown(true);
    const QImage without = shown(false);
    showText(true);
    double best = 0;
    for (int y = 0; y < std::min(with.height(), without.height()); ++y) {
        for (int x = 0; x < std::min(with.width(), without.width()); ++x) {
            if (with.pixel(x, y) != without.pixel(x, y))
                best = std::max(best, Contrast(with.pixel(x, y), without.pixel(x, y)));
        }
    }
    return best;
}

using StyleAndFont = std::tuple<const char*, int>;  // style, desktop font size in points

class Styles : public ::testing::TestWithParam<StyleAndFont> {
protected:
    void SetUp() override {
        const QString name = QString::fromLatin1(std::get<0>(GetParam()));
        if (!QStyleFactory::keys().contains(name, Qt::CaseInsensitive))
            GTEST_SKIP() << "style " << name.toStdString() << " is not installed (Debian: adwaita-qt6)";
        savedStyle_ = QApplication::style()->name();
        savedFont_ = QApplication::font();
        savedPalette_ = QApplication::palette();
        QStyle* style = QStyleFactory::create(name);
        QApplication::setStyle(style);
        QApplication::setPalette(style->standardPalette());
        QFont font = QApplication::font();
        font.setPointSize(std::get<1>(GetParam()));
        QApplication::setFont(font);
        form = &harness.Start();
    }
    void TearDown() override {
        harness.Destroy();
        if (savedStyle_.isEmpty()) return;
        QApplication::setStyle(QStyleFactory::create(savedStyle_));
        QApplication::setPalette(savedPalette_);
        QApplication::setFont(savedFont_);
    }
    FormHarness harness;
    TForm1* form = nullptr;

private:
    QString savedStyle_;
    QFont savedFont_;
    QPalette savedPalette_;
};

}  // namespace

TEST_P(Styles, EveryMenuTitleShowsAndTheClientAreaKeepsItsDesignedLayout) {
    form->Synchronized->trigger();  // the GPS menu shows too
    QCoreApplication::processEvents();
    QMenuBar* bar = form->menuBar();
    const auto* overflow = bar->findChild<QToolButton*>();
    EXPECT_FALSE(overflow != nullptr && overflow->isVisible()) << "menus in the menu bar's overflow";
    int shown = 0;
    for (QAction* menu : bar->actions()) {
        const QRect r = bar->actionGeometry(menu);
        EXPECT_FALSE(r.isEmpty()) << menu->text().toStdString();
        EXPECT_TRUE(bar->rect().contains(r)) << menu->text().toStdString();
        EXPECT_GE(r.height(), bar->fontMetrics().height()) << menu->text().toStdString();
        shown += r.isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(shown, 5);

    // The window grew by what the menu bar needs beyond its designed 20 pixels; what is stored is the
    // designed size, and the controls stand where they were designed to.
    EXPECT_GE(bar->height(), 20);
    EXPECT_EQ(WindowBounds::Read(form), QRect(213, 156, 606, 589));
    EXPECT_EQ(form->height(), 589 - 34 + bar->height() - 20);
    EXPECT_EQ(form->centralWidget()->size(), QSize(598, 535 - 19));
    EXPECT_EQ(form->StatusBar1->height(), 19);
    EXPECT_EQ(form->ZBCommand->geometry(), QRect(4, 24, 581, 69));
    EXPECT_EQ(form->GroupBox2->geometry(), QRect(0, 161, 598, 355));

    // A run without changes writes back what it read.
    ASSERT_TRUE(harness.Close());
    TForm1& again = harness.Restart();
    EXPECT_EQ(WindowBounds::Read(&again), QRect(213, 156, 606, 589));
}

TEST_P(Styles, TextStaysReadableOnItsBackground) {
    constexpr double kReadable = 3.0;
    auto expectReadable = [&](const char* what, QWidget* widget, const std::function<void(bool)>& showText) {
        QCoreApplication::processEvents();
        const double contrast = TextContrast(widget, showText);
        EXPECT_GE(contrast, kReadable) << what;
    };
    for (const auto& look : {std::function<void()>([&] { form->TellNeutral(); }),
                             std::function<void()>([&] { form->TellAlert(); }),
                             std::function<void()>([&] { form->TellProgress(); })}) {
        look();
        expectReadable("alert strip", form->Tell,
                       [&](bool on) { form->SetTellCaption(on ? "Turn Beacon off, then on" : ""); });
    }
    expectReadable("status bar", form->StatusBar1,
                   [&](bool on) { form->SetStatusText(on ? "Characters: 10" : ""); });
    expectReadable("group title", form->GroupBox1,
                   [&](bool on) { form->GroupBox1->setTitle(on ? "Beacon Command String" : ""); });
    expectReadable("memo", form->ZBCommand, [&](bool on) { form->SetMemoText(on ? "PSDvvvSQSZ" : ""); });
    expectReadable("listing", form->Sequence->viewport(), [&](bool on) {
        form->SetMemoText(on ? "PSDvvvSQSZ" : "");
        form->UpdateSequence();
    });
    expectReadable("menu bar", form->menuBar(),
                   [&](bool on) { form->File1->menuAction()->setText(on ? "&File" : ""); });
    form->File1->popup(form->mapToGlobal(QPoint(0, 0)));
    expectReadable("menu", form->File1, [&](bool on) { form->new1->setText(on ? "&New" : ""); });
    form->File1->hide();

    form->DebugWindow->trigger();
    expectReadable("debug window", harness.Debug().Memo,
                   [&](bool on) { harness.Debug().Memo->setPlainText(on ? "Erase program? y/n" : ""); });

    QMessageBox box(QMessageBox::Warning, "Warning", "Save changes?", QMessageBox::NoButton, form);
    box.addButton("&Yes", QMessageBox::YesRole);
    box.show();
    expectReadable("message box", &box, [&](bool on) { box.setText(on ? "Save changes?" : ""); });
    box.hide();
}

INSTANTIATE_TEST_SUITE_P(Desktop, Styles,
                         ::testing::Combine(::testing::Values("Fusion", "Windows", "Adwaita", "Adwaita-Dark"),
                                            ::testing::Values(9, 16)),
                         [](const ::testing::TestParamInfo<StyleAndFont>& info) {
                             QString name = QString::fromLatin1(std::get<0>(info.param)).remove('-');
                             return name.toStdString() + "_" + std::to_string(std::get<1>(info.param)) + "pt";
                         });
