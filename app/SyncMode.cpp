// Synchronized mode (the Insert menu, the limit and the GPS menu follow the option) and the length limit.
#include <QAction>
#include <QMenu>

#include "app/ZB.h"
#include "platform/Convert.h"

void TForm1::ApplySynchronizedMode() {
    const bool sync = Synchronized->isChecked();
    for (QAction* item : {A5wpm1, E52wpm1, F5secondwait1, O1minutewait1, Vwait10minutes1, NCancelLongDelay1,
                          RQRSSMode1, IStopQRSS1, N8}) {
        item->setVisible(!sync);
    }
    D21wpm1->setText(sync ? QStringLiteral("D 20 wpm") : QStringLiteral("D 21 wpm"));
    WWaitforexternaltrigger1->setText(sync ? QStringLiteral("W Wait for GPS trigger")
                                           : QStringLiteral("W Wait for external trigger"));
    MaxChar = sync ? 99 : 127;
    GPSMenu->menuAction()->setVisible(sync);
}

void TForm1::SynchronizedClick(QObject*) {
    Synchronized->setChecked(!Synchronized->isChecked());
    ApplySynchronizedMode();
}

void TForm1::SetCharacterLimit1Click(QObject*) {
    QString value = QString::number(MaxChar);
    if (!dialogs_.InputQuery(QStringLiteral("Beacon Character Limit"), QStringLiteral("Maximum: "), value))
        return;
    // Anything that is not a whole number sets the normal limit; no range is enforced.
    int32_t limit = 127;
    if (!Convert::TryStrToInt(value.toStdString(), limit)) limit = 127;
    MaxChar = limit;
}

void TForm1::Options1Click(QObject*) {
    SetCharacterLimit1->setText(QStringLiteral("Change Character Limit (") + QString::number(MaxChar) +
                                QStringLiteral(") ..."));
}
