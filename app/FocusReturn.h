#pragma once
// Gives the keyboard focus back after a modal dialog: to the window that was active before it (or the
// dialog's owner) and to the control that had the focus there. A desktop's window manager usually does
// this by itself; without one, or when it declines, the operator would be left with no window taking
// the keyboard.

#include <QPointer>
#include <QWidget>

class FocusReturn {
public:
    explicit FocusReturn(QWidget* owner);
    ~FocusReturn();
    FocusReturn(const FocusReturn&) = delete;
    FocusReturn& operator=(const FocusReturn&) = delete;

private:
    QPointer<QWidget> window_;
    QPointer<QWidget> focus_;
};
