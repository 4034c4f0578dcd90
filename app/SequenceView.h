#pragma once
// The "Beacon Sequence" listing: a view over the decoded rows (only the rows on screen are drawn, and a
// row's text is made when it is drawn or read), of fixed row height, coloured by rules on the row's text.

#include <QAbstractListModel>
#include <QColor>
#include <QListView>
#include <QStringList>
#include <functional>

#include "command/SequenceRows.h"

class QAbstractItemDelegate;
class QObject;
class QTimer;
class TForm1;

inline const QColor kSequenceColor(192, 255, 255);
constexpr int kSequenceRowHeight = 16;

// The delegate prepares each row's canvas (list colour, or the selection colours for the selected row),
// hands it to TForm1::SequenceDrawItem, then draws the focus mark.
QAbstractItemDelegate* CreateSequenceDelegate(TForm1* form, QObject* parent);

// What a row is, as assistive technology reads it beside the row's text (the colours say the same to
// the eye).
enum class RowKind { Command, Message, Incompatible, Notice };
QString RowKindDescription(RowKind kind);

// The rows of the listing: the decoded rows, then any notices added after the decode.
class SequenceModel : public QAbstractListModel {
    Q_OBJECT
public:
    // `synchronized` tells whether the synchronized beacon is selected at the moment a row is read.
    SequenceModel(std::function<bool()> synchronized, QObject* parent);

    void SetRows(Commands::SequenceRows rows);
    void AddNotice(const QString& line);
    void Clear();

    QString Text(int row) const;
    RowKind Kind(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::function<bool()> synchronized_;
    Commands::SequenceRows rows_;
    QStringList notices_;
};

// One row of the listing, as the list-widget style calls hand it out: `item(i)->text()`.
class SequenceItem {
public:
    SequenceItem(const SequenceModel* model, int row) : model_(model), row_(row) {}
    QString text() const { return model_->Text(row_); }
    int row() const { return row_; }
    const SequenceItem* operator->() const { return this; }

private:
    const SequenceModel* model_;
    int row_;
};

class SequenceList : public QListView {
    Q_OBJECT
public:
    explicit SequenceList(std::function<bool()> synchronized, QWidget* parent = nullptr);

    // Shows freshly decoded rows from the first row, with nothing selected.
    void SetRows(Commands::SequenceRows rows);
    // Adds a line after the rows (the notice of a beacon read).
    void addItem(const QString& line);
    void clear();

    int count() const;
    QString RowText(int row) const;
    SequenceItem item(int row) const { return SequenceItem(model_, row); }
    int currentRow() const;
    void setCurrentRow(int row);
    QRect visualItemRect(const SequenceItem& item) const;
    void scrollToItem(const SequenceItem& item);

    // The row count as assistive technology hears it: the list's description, refreshed when the count
    // changes, but at most once per kCountAnnouncementMs so that typing does not flood the listener.
    QString CountDescription() const;
    static constexpr int kCountAnnouncementMs = 500;

signals:
    // Told with the accessibility event of each new count.
    void CountAnnouncement(const QString& description);

private:
    void CountChanged();
    void AnnounceCount();
    void KeepFocus();

    SequenceModel* model_;
    QTimer* countPause_;
    bool countPending_ = false;
};
