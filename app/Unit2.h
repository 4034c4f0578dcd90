#pragma once
// The debug window: shows the raw text received from the beacon while its menu item is ticked.

#include <QPlainTextEdit>
#include <QWidget>

class TDebug : public QWidget {
    Q_OBJECT
public:
    explicit TDebug(QWidget* parent = nullptr);

    QPlainTextEdit* Memo = nullptr;

    static constexpr int kDesignedLeft = 469;
    static constexpr int kDesignedTop = 240;
    static constexpr int kDesignedWidth = 711;
    static constexpr int kDesignedHeight = 500;
};
