#include "app/SequenceView.h"

#include <QApplication>
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
    if (!s.isEmpty() && !startsWithLetter) Canvas.Brush = QColor(255, 255, 255);
    if (Synchronized->isChecked() && !s.isEmpty() && Commands::IsIncompatibleWithSynchronized(s.at(0))) {
        Canvas.Brush = QColor(255, 0, 0);
        TellAlert();
        SetTellCaption(QStringLiteral("Contains commands incompatible with Synchronized Beacon!"));
    }
    if (s.contains(QLatin1String("GPS Menu"))) Canvas.Brush = QColor(255, 0, 0);

    QPainter* p = Canvas.Painter;
    p->fillRect(Rect, Canvas.Brush);
    p->setClipRect(Rect);
    p->setFont(Canvas.Font);
    p->setPen(Canvas.FontColor);
    const QRect textRect(Rect.left() + 2, Rect.top() + 2, std::max(0, Rect.width() - 2),
                         std::max(0, Rect.height() - 2));
    p->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, TrimControls(s));
}
