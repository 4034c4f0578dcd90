#pragma once
// Drawing of the "Beacon Sequence" listing: rows of fixed height, coloured by rules on their text.

#include <QColor>

class QAbstractItemDelegate;
class QObject;
class TForm1;

inline const QColor kSequenceColor(192, 255, 255);
constexpr int kSequenceRowHeight = 16;

// The delegate prepares each row's canvas (list colour, or the selection colours for the selected row),
// hands it to TForm1::SequenceDrawItem, then draws the focus mark.
QAbstractItemDelegate* CreateSequenceDelegate(TForm1* form, QObject* parent);
