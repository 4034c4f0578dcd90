// The GPS slot schedule: 24 transmit slots per two-minute cycle, the menu that chooses them, the beacon's
// slot listing, and the steps that change the beacon's table one slot at a time.
#include <QAction>
#include <QMenu>

#include "app/ZB.h"

namespace {
constexpr int kSlotCount = 24;
}

void TForm1::BuildGPSMenu() {
    for (int i = 0; i < kSlotCount; ++i) {
        const int seconds = 5 * i;
        const QString caption = seconds < 60 ? QString::asprintf("%2.2d sec of even minutes", seconds)
                                             : QString::asprintf("%2.2d sec of odd minutes", seconds - 60);
        QAction* item = GPSMenu->addAction(caption);
        item->setObjectName(QStringLiteral("GPSSlot%1").arg(i));
        ConnectToggle(item, &TForm1::GPSSlotClick);
        GPSSlots.append(item);
    }
}

void TForm1::GPSSlotClick(QObject* Sender) {
    if (auto* item = qobject_cast<QAction*>(Sender)) item->setChecked(!item->isChecked());
}

void TForm1::TickSlotsFromMask() {
    if (SlotMask.size() < kSlotCount) return;
    for (int i = 0; i < kSlotCount; ++i) {
        if (SlotMask.at(i) == '1') GPSSlots[i]->setChecked(true);
    }
}
