#include "app/FocusReturn.h"

#include <QApplication>

FocusReturn::FocusReturn(QWidget* owner)
    : window_(QApplication::activeWindow()), focus_(QApplication::focusWidget()) {
    if (window_ == nullptr && owner != nullptr) window_ = owner->window();
    if (focus_ == nullptr && window_ != nullptr) focus_ = window_->focusWidget();
}

FocusReturn::~FocusReturn() {
    if (window_ == nullptr || !window_->isVisible()) return;
    window_->activateWindow();
    if (focus_ != nullptr && focus_->isVisible() && focus_->window() == window_)
        focus_->setFocus(Qt::ActiveWindowFocusReason);
}
