// bench-decode: the time from a keystroke in the command memo to the "Beacon Sequence" listing updated,
// on the real main window (offscreen), for a memo of 127 bytes, 64 KiB and 1 MiB. A keystroke is the key's
// press and its release (each decodes the memo, as designed); the listing is updated once the events
// that follow have run and its rows on screen are drawn. Prints the median and the slowest of the
// keystrokes; exits with 1 when a target was missed.
//
//   127 B     target < 2 ms
//   64 KiB    (no target; between the two)
//   1 MiB     target < 50 ms
//
// Usage: bench-decode [keystrokes]   (default 40 per size)
#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "tools/common/WindowBench.h"

namespace {

using bench::QuietDialogs;
using bench::WallSeconds;

// A command file of `size` bytes: lines of a beacon message with commands and Morse text, seven rows a
// line, so that the listing has many rows.
QByteArray CommandText(qsizetype size) {
    static const QByteArray line = "PSDvvv de SQS\r\n";
    QByteArray text;
    text.reserve(size);
    while (text.size() < size)
        text += line;
    text.truncate(size);
    if (text.endsWith('\r')) text[text.size() - 1] = 'v';
    return text;
}

void Key(QWidget* memo, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(memo, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(memo, &release);
}

struct Figures {
    double median = 0, max = 0;
    int rows = 0;
};

// Keystrokes at the end of the memo, a letter and then Backspace by turns, so the text keeps its size.
Figures Keystrokes(TForm1& form, qsizetype size, int count) {
    form.SetMemoText(CommandText(size));
    form.UpdateSequence();
    QCoreApplication::processEvents();
    QTextCursor end = form.ZBCommand->textCursor();
    end.movePosition(QTextCursor::End);
    form.ZBCommand->setTextCursor(end);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const double start = WallSeconds();
        if (i % 2 == 0) {
            Key(form.ZBCommand, Qt::Key_V, QStringLiteral("v"));
        } else {
            Key(form.ZBCommand, Qt::Key_Backspace, QStringLiteral("\b"));
        }
        QCoreApplication::processEvents();
        form.Sequence->viewport()->repaint();
        times.push_back((WallSeconds() - start) * 1000.0);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back(), form.Sequence->count()};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 40;

    QTemporaryDir dir;
    QuietDialogs dialogs("bench-decode");
    TForm1 form(dir.path(), dialogs);
    form.Create();
    TDebug debug;
    form.SetDebugWindow(&debug);
    form.show();
    QCoreApplication::processEvents();

    struct Size {
        const char* name;
        qsizetype bytes;
        double target;  // ms; 0: none
    };
    bool ok = true;
    std::printf("bench-decode: keystroke to listing updated, %d keystrokes per size\n", count);
    for (const Size& size :
         {Size{"127 B", 127, 2.0}, Size{"64 KiB", 64 * 1024, 0.0}, Size{"1 MiB", 1024 * 1024, 50.0}}) {
        const Figures f = Keystrokes(form, size.bytes, count);
        char what[64];
        std::snprintf(what, sizeof what, "%s memo (%d rows), median", size.name, f.rows);
        if (size.target > 0) {
            ok &= bench::Report(what, f.median, size.target, "ms");
        } else {
            std::printf("  %-52s %9.3f ms\n", what, f.median);
        }
        std::printf("  %-52s %9.3f ms\n", "  slowest", f.max);
    }
    form.Modified = false;  // nothing to offer for saving at the close
    return ok ? 0 : 1;
}
