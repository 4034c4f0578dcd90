#pragma once
// Runs the real main window (and its debug window) headless in a temporary program folder.

#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "support/QtPrinters.h"
#include "support/ScriptedDialogs.h"

class FormHarness {
public:
    FormHarness() = default;
    ~FormHarness() { Destroy(); }

    QString Dir() const { return dir_.path(); }
    QString PathOf(const QString& name) const { return dir_.filePath(name); }

    // Creates the main window (running its creation steps), then the debug window, then shows the main
    // window as the program does.
    TForm1& Start(bool show = true) {
        form_ = std::make_unique<TForm1>(dir_.path(), Dialogs);
        form_->Create();
        debug_ = std::make_unique<TDebug>();
        form_->SetDebugWindow(debug_.get());
        if (show) {
            form_->show();
            QCoreApplication::processEvents();
        }
        return *form_;
    }

    // Closes the window as its close box does; true when it closed (the close steps succeeded).
    bool Close() {
        form_->close();
        return !form_->isVisible();
    }

    // Closes the window, then starts the program again in the same folder.
    TForm1& Restart() {
        Close();
        Destroy();
        return Start();
    }

    void Destroy() {
        form_.reset();
        debug_.reset();
    }

    TForm1& Form() { return *form_; }
    TDebug& Debug() { return *debug_; }
    ScriptedDialogs Dialogs;

private:
    QTemporaryDir dir_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TDebug> debug_;
};
