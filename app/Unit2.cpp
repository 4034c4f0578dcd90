#include "app/Unit2.h"

#include <QVBoxLayout>

#include "app/ZB.h"

TDebug::TDebug(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Debug");
    setWindowTitle(tr("Debug"));
    // Closing the debug window only hides it, and an open debug window never keeps the program running.
    setAttribute(Qt::WA_QuitOnClose, false);
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setStyleHint(QFont::SansSerif);
    windowFont.setPixelSize(11);
    setFont(windowFont);

    Memo = new QPlainTextEdit(this);
    Memo->setObjectName("Memo");
    QFont memoFont(QStringLiteral("Courier New"));
    memoFont.setStyleHint(QFont::Monospace);
    memoFont.setPixelSize(13);
    Memo->setFont(memoFont);
    Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo->setAccessibleName(tr("Received from the beacon"));
    Memo->setAccessibleDescription(tr("The text received from the beacon during the current dialogue"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo);

    WindowBounds::Apply(this, kDesignedLeft, kDesignedTop, kDesignedWidth, kDesignedHeight);
}
