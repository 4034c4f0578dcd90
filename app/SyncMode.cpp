// Synchronized mode (the Insert menu, the limit and the GPS menu follow the option) and the length limit.
#include <QAction>
#include <QMenu>

#include "app/ZB.h"
#include "command/CommandTable.h"
#include "platform/Convert.h"

void TForm1::ApplySynchronizedMode() {
    const bool sync = Synchronized->isChecked();
    // Commands a synchronized beacon does not carry are hidden, and so is a separator whose group
    // above it is hidden whole.
    bool groupHidden = true;
    for (QAction* item : Edit1->actions()) {
        if (item->isSeparator()) {
            item->setVisible(!(sync && groupHidden));
            groupHidden = true;
            continue;
        }
        const Commands::Command* command = Commands::Find(item->data().toChar());
        if (command == nullptr) continue;
        const bool hidden = sync && !command->synchronizedBeacon;
        item->setVisible(!hidden);
        groupHidden = groupHidden && hidden;
        if (const char* caption = sync ? command->syncCaption : command->normalCaption)
            item->setText(QString::fromLatin1(caption));
    }
    MaxChar = Commands::MaxCharFor(sync);
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
    int32_t limit = Commands::kMaxChar;
    if (!Convert::TryStrToInt(value.toStdString(), limit)) limit = Commands::kMaxChar;
    MaxChar = limit;
}

void TForm1::Options1Click(QObject*) {
    SetCharacterLimit1->setText(QStringLiteral("Change Character Limit (") + QString::number(MaxChar) +
                                QStringLiteral(") ..."));
}
