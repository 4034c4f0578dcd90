#pragma once
// Gives the keyboard focus back after a modal dialog: to the window that was active before it (or the
// dialog's owner) and to the control that had the focus there. A desktop's window manager usually does
// this by itself; without one, or when it declines, the operator would be left with no window taking
// the keyboard.

#include <QPointer>
#include <QWidget>

class TFocusReturn {
public:
    explicit TFocusReturn(QWidget* owner);
    ~TFocusReturn();
    TFocusReturn(const TFocusReturn&) = delete;
    TFocusReturn& operator=(const TFocusReturn&) = delete;

private:
    QPointer<QWidget> window_;
    QPointer<QWidget> focus_;
};
