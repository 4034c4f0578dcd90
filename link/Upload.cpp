// The upload of the command string, one character per short pause, with a ticker on the alert strip.
#include <QApplication>

#include "app/ZB.h"
#include "device/VaComm.h"

namespace {
constexpr int kTickerLength = 51;
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
            Delay(0.1);
        }
    } catch (...) {
        // A serial error ends the upload and with it the operation: the strip and the cursor are
        // restored, and no later question of the beacon is answered, before the error is reported.
        finish();
        LinkMode.clear();
        throw;
    }
    finish();
}
