#include "app/SequenceView.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

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

QString RowKindDescription(RowKind kind) {
    switch (kind) {
        case RowKind::Command:
            return QStringLiteral("command");
        case RowKind::Message:
            return QStringLiteral("text sent in Morse");
        case RowKind::Incompatible:
            return QStringLiteral("not supported by a synchronized beacon");
        case RowKind::Notice:
            break;
    }
    return QStringLiteral("notice");
}

// ---- Rows --------------------------------------------------------------------------------------------

SequenceModel::SequenceModel(std::function<bool()> synchronized, QObject* parent)
    : QAbstractListModel(parent), synchronized_(std::move(synchronized)) {}

void SequenceModel::SetRows(Commands::SequenceRows rows) {
    beginResetModel();
    rows_ = std::move(rows);
    notices_.clear();
    endResetModel();
}

void SequenceModel::AddNotice(const QString& line) {
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    notices_ << line;
    endInsertRows();
}

void SequenceModel::Clear() {
    SetRows(Commands::SequenceRows());
}

int SequenceModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(rows_.size() + notices_.size());
}

QString SequenceModel::Text(int row) const {
    if (row < 0) return QString();
    if (row < rows_.size()) return rows_.Text(row);
    return notices_.value(row - rows_.size());
}

// The kind follows the option as it is now, as the row's colour does when it is next drawn.
RowKind SequenceModel::Kind(int row) const {
    if (row < 0 || row >= rows_.size()) return RowKind::Notice;
    if (rows_.KindOf(row) == Commands::SequenceRows::Kind::Message) return RowKind::Message;
    if (synchronized_() && Commands::IsIncompatibleWithSynchronized(rows_.Letter(row)))
        return RowKind::Incompatible;
    return RowKind::Command;
}

QVariant SequenceModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return QVariant();
    switch (role) {
        case Qt::DisplayRole:
            return Text(index.row());
        case Qt::AccessibleTextRole:
            return TrimControls(Text(index.row()));  // the text as drawn
        case Qt::AccessibleDescriptionRole:
            return RowKindDescription(Kind(index.row()));
        default:
            return QVariant();
    }
}

// ---- The list ----------------------------------------------------------------------------------------

SequenceList::SequenceList(std::function<bool()> synchronized, QWidget* parent)
    : QListView(parent),
      model_(new SequenceModel(std::move(synchronized), this)),
      countPause_(new QTimer(this)) {
    setModel(model_);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    countPause_->setSingleShot(true);
    countPause_->setInterval(kCountAnnouncementMs);
    connect(countPause_, &QTimer::timeout, this, [this] {
        if (!countPending_) return;
        countPending_ = false;
        AnnounceCount();
        countPause_->start();
    });
    AnnounceCount();
}

void SequenceList::SetRows(Commands::SequenceRows rows) {
    model_->SetRows(std::move(rows));
    scrollToTop();
    CountChanged();
    KeepFocus();
}

void SequenceList::addItem(const QString& line) {
    model_->AddNotice(line);
    CountChanged();
}

void SequenceList::clear() {
    model_->Clear();
    CountChanged();
    KeepFocus();
}

// The row that had the focus is gone with the old rows: assistive technology is told that the focus is
// on the list itself (a Read emptying the listing while the operator is in it).
void SequenceList::KeepFocus() {
    if (!hasFocus()) return;
    QAccessibleEvent event(this, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

int SequenceList::count() const {
    return model_->rowCount();
}

QString SequenceList::RowText(int row) const {
    return model_->Text(row);
}

int SequenceList::currentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void SequenceList::setCurrentRow(int row) {
    setCurrentIndex(model_->index(row));
}

QRect SequenceList::visualItemRect(const SequenceItem& item) const {
    return visualRect(model_->index(item.row()));
}

void SequenceList::scrollToItem(const SequenceItem& item) {
    scrollTo(model_->index(item.row()));
}

QString SequenceList::CountDescription() const {
    const int n = count();
    return n == 1 ? QStringLiteral("1 row") : QString::number(n) + QStringLiteral(" rows");
}

// The first change after a quiet spell is told at once; changes during the pause that follows are told
// together at its end.
void SequenceList::CountChanged() {
    if (countPause_->isActive()) {
        countPending_ = true;
        return;
    }
    AnnounceCount();
    countPause_->start();
}

void SequenceList::AnnounceCount() {
    const QString description = CountDescription();
    if (description == accessibleDescription()) return;
    setAccessibleDescription(description);
    emit CountAnnouncement(description);
}

// ---- Drawing -----------------------------------------------------------------------------------------

void TForm1::SequenceDrawItem(TCanvas& Canvas, int Index, const QRect& Rect) {
    const QString s = Sequence->RowText(Index);
    const bool startsWithLetter = !s.isEmpty() && s.at(0).unicode() >= 'A' && s.at(0).unicode() <= 'Z';
    if (!s.isEmpty() && !startsWithLetter) {
        // Message rows are white whatever the selection or the desktop's colours, so their text is black:
        // the selection's (or a dark theme's) light text colour would vanish on them.
        Canvas.Brush = QColor(255, 255, 255);
        Canvas.FontColor = QColor(0, 0, 0);
    }
    // Drawing only colours: the incompatibility alarm follows the decoded text (UpdateSequence).
    if (Synchronized->isChecked() && !s.isEmpty() && Commands::IsIncompatibleWithSynchronized(s.at(0)))
        Canvas.Brush = QColor(255, 0, 0);
    if (s.contains(QLatin1String("GPS Menu"))) Canvas.Brush = QColor(255, 0, 0);

    QPainter* p = Canvas.Painter;
    p->fillRect(Rect, Canvas.Brush);
    p->setClipRect(Rect);
    const TRowFit fit = FitRowFont(Canvas.Font, Rect.height());
    p->setFont(fit.Font);
    p->setPen(Canvas.FontColor);
    p->drawText(QPoint(Rect.left() + 2, Rect.top() + fit.Baseline), TrimControls(s));
}
