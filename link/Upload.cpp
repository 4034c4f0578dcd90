// The upload of the command string, one character per short pause, with a ticker on the alert strip.
#include <QApplication>

#include "app/ZB.h"
#include "device/VaComm.h"
#include "platform/Clock.h"

namespace {
constexpr int kTickerLength = 51;
// The pause after each character: 0.1 of a Delay unit (one unit is 0.0000115 day).
constexpr double kUnitNs = 0.0000115 * 86400.0 * 1e9;
constexpr double kPauseUnits = 0.1;
constexpr int64_t kPauseNs = static_cast<int64_t>(kPauseUnits * kUnitNs);
}  // namespace

void TForm1::SendXStop(TObject*) {
    // The operator started another operation while the countdown ran: nothing to send.
    if (LinkMode != "Program") return;
    LinkMode.clear();
    ReceivedText.clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TellProgress();
    SetTellCaption(QString());
    // From here on the beacon's questions after the message are answered by the dialogue.
    LinkMode = "ProgramGPS";
    const qsizetype n = MemoText().size();
    auto finish = [this] {
        QApplication::restoreOverrideCursor();
        SetTellColor(QColor(255, 255, 255));
        SetTellCaption(QString());
        SetStatusText(QString());
    };
    // The pauses keep a fixed cadence: each is due one pause after the previous one was due, so that
    // the millisecond or two that every write and every wake-up cost do not add up over a long command
    // string. A pause is shortened by at most a tenth to catch up; a larger delay (a handler that ran
    // inside a pause) starts the cadence afresh with a full pause.
    int64_t due = Clock::MonotonicNs();
    try {
        for (qsizetype i = 0; i < n; ++i) {
            // The memo is read afresh for every character: edits made during the pauses take effect.
            const QByteArray text = MemoText();
            if (i >= text.size()) break;  // the memo became shorter meanwhile
            const char c = text.at(i);
            if (static_cast<unsigned char>(c) >= 32) Com->WriteChar(c);
            QString ticker = TellCaption();
            if (ticker.size() >= kTickerLength) ticker.remove(0, 1);
            ticker += QChar(static_cast<unsigned char>(c));
            SetTellCaption(ticker);
            due += kPauseNs;
            const int64_t now = Clock::MonotonicNs();
            if (due - now < kPauseNs - kPauseNs / 10) due = now + kPauseNs;
            Delay(static_cast<double>(due - now) / kUnitNs);
        }
    } catch (...) {
        // A serial error ends the upload; the strip and the cursor are restored before it is reported.
        finish();
        throw;
    }
    finish();
}
