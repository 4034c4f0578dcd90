#pragma once
// Shared by the programs that drive the real main window offscreen against the beacon simulator and
// measure it: clocks, a dialog set that answers nothing, a wait on the event loop, and a line of the
// report.
#include <time.h>

#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/Dialogs.h"
#include "app/Unit2.h"
#include "app/ZB.h"
#include "platform/Clock.h"

namespace bench {

// Processor time of the whole process (every thread, the simulator's included), in seconds.
inline double CpuSeconds() {
    return Clock::ProcessCpuSeconds();
}

inline double WallSeconds() {
    return static_cast<double>(Clock::MonotonicNs()) / 1e9;
}

// The real main window with its debug window, created, connected and shown as the program starts them,
// keeping its files in `folder`.
inline void StartWindow(std::unique_ptr<TForm1>& form, std::unique_ptr<TDebug>& debug, const QString& folder,
                        IDialogs& dialogs) {
    form = std::make_unique<TForm1>(folder, dialogs);
    form->Create();
    debug = std::make_unique<TDebug>();
    form->SetDebugWindow(debug.get());
    form->show();
}

// One figure against its upper bound: prints it and says whether it is below.
inline bool Report(const char* what, double value, double target, const char* unit) {
    const bool ok = value < target;
    std::printf("  %-52s %9.3f %-3s (target < %g %s) %s\n", what, value, unit, target, unit,
                ok ? "ok" : "MISSED");
    return ok;
}

// Answers no box: a question is answered No, an error is printed and counted.
class QuietDialogs : public IDialogs {
public:
    explicit QuietDialogs(std::string program) : program_(std::move(program)) {}
    int Errors = 0;
    TAnswer Warning(const QString&, const QString& text) override {
        std::fprintf(stderr, "%s: unexpected question: %s\n", program_.c_str(), qPrintable(text));
        return TAnswer::No;
    }
    void Message(const QString&, const QString&) override {}
    void Error(const QString& text) override {
        ++Errors;
        std::fprintf(stderr, "%s: error: %s\n", program_.c_str(), qPrintable(text));
    }
    bool OpenFile(const TFileDialogRequest&, QString&) override { return false; }
    bool SaveFile(const TFileDialogRequest&, QString&) override { return false; }
    bool InputQuery(const QString&, const QString&, QString&) override { return false; }
    bool OpenDocument(const QString&) override { return true; }

private:
    std::string program_;
};

// Runs the event loop until `done` holds (checked every 20 ms) or the time runs out.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(20);
    bool finished = done();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            finished = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!finished) {
        poll.start();
        loop.exec();
    }
    return finished;
}

}  // namespace bench
