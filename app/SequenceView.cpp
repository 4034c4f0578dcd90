#include "app/SequenceView.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHash>
#include <QListWidget>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include "app/ZB.h"
#include "command/CommandTable.h"

namespace {

class TSequenceDelegate : public QStyledItemDelegate {
public:
    TSequenceDelegate(TForm1* form, QObject* parent) : QStyledItemDelegate(parent), form_(form) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        TCanvas canvas;
        canvas.Painter = painter;
        canvas.Font = option.font;
        canvas.Brush =
            selected ? option.palette.color(QPalette::Highlight) : option.palette.color(QPalette::Base);
        canvas.FontColor =
            selected ? option.palette.color(QPalette::HighlightedText) : option.palette.color(QPalette::Text);
        painter->save();
        form_->SequenceDrawItem(canvas, index.row(), option.rect);
        painter->restore();
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.backgroundColor = canvas.Brush;
            const QWidget* widget = option.widget;
            QStyle* style = widget ? widget->style() : QApplication::style();
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(option.rect.width(), kSequenceRowHeight);
    }

private:
    TForm1* form_;
};

// The row's font and the offset of its baseline from the row's top. The text cell sits 2 pixels below the
// row's top, unless the glyphs would then reach past the row's bottom (a font taller than the designed
// one, or one with longer descenders): the text is then raised, and a font too tall for the row at all
// is made smaller, until every printable ASCII glyph lies between the row's third pixel line and its
// last one.
struct TRowFit {
    QFont Font;
    int Baseline = 0;  // from the row's top
};

TRowFit FitRowFont(const QFont& font, int rowHeight) {
    static QHash<QString, TRowFit> cache;
    const QString key = font.key() + QLatin1Char('/') + QString::number(rowHeight);
    if (const auto it = cache.constFind(key); it != cache.constEnd()) return *it;

    static const QString glyphs = [] {
        QString s;
        for (char16_t c = 33; c < 127; ++c)
            s += QChar(c);
        return s;
    }();
    TRowFit fit;
    fit.Font = font;
    if (fit.Font.pixelSize() <= 0) fit.Font.setPixelSize(QFontInfo(font).pixelSize());
    QRect ink;
    int ascent = 0;
    for (;;) {
        const QFontMetrics metrics(fit.Font);
        ink = metrics.tightBoundingRect(glyphs);  // relative to the baseline
        ascent = metrics.ascent();
        if (ink.height() <= rowHeight - 2 || fit.Font.pixelSize() <= 6) break;
        fit.Font.setPixelSize(fit.Font.pixelSize() - 1);
    }
    fit.Baseline = std::min(2 + ascent, rowHeight - 1 - ink.bottom());
    fit.Baseline = std::max(fit.Baseline, 2 - ink.top());
    cache.insert(key, fit);
    return fit;
}

// Removes leading and trailing spaces and control characters (codes 0 to 32).
QString TrimControls(const QString& s) {
    qsizetype first = 0;
    qsizetype last = s.size();
    while (first < last && s.at(first).unicode() <= 32)
        ++first;
    while (last > first && s.at(last - 1).unicode() <= 32)
        --last;
    return s.mid(first, last - first);
}

}  // namespace

QAbstractItemDelegate* CreateSequenceDelegate(TForm1* form, QObject* parent) {
    return new TSequenceDelegate(form, parent);
}

void TForm1::SequenceDrawItem(TCanvas& Canvas, int Index, const QRect& Rect) {
    const QListWidgetItem* item = Sequence->item(Index);
    const QString s = item ? item->text() : QString();
    const bool startsWithLetter = !s.isEmpty() && s.at(0).unicode() >= 'A' && s.at(0).unicode() <= 'Z';
    if (!s.isEmpty() && !startsWithLetter) {
        // Message rows are white whatever the selection or the desktop's colours, so their text is black:
        // the selection's (or a dark theme's) light text colour would vanish on them.
        Canvas.Brush = QColor(255, 255, 255);
        Canvas.FontColor = QColor(0, 0, 0);
    }
    if (Synchronized->isChecked() && !s.isEmpty() && Commands::IsIncompatibleWithSynchronized(s.at(0))) {
        Canvas.Brush = QColor(255, 0, 0);
        TellAlert();
        SetTellCaption(QStringLiteral("Contains commands incompatible with Synchronized Beacon!"));
    }
    if (s.contains(QLatin1String("GPS Menu"))) Canvas.Brush = QColor(255, 0, 0);

    QPainter* p = Canvas.Painter;
    p->fillRect(Rect, Canvas.Brush);
    p->setClipRect(Rect);
    const TRowFit fit = FitRowFont(Canvas.Font, Rect.height());
    p->setFont(fit.Font);
    p->setPen(Canvas.FontColor);
    p->drawText(QPoint(Rect.left() + 2, Rect.top() + fit.Baseline), TrimControls(s));
}
