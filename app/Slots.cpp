// The GPS menu: one item per transmit slot of the two-minute cycle, ticked where the beacon should send.
#include <QAction>
#include <QMenu>

#include "app/ZB.h"
#include "link/BeaconEngine.h"

namespace {
constexpr int kSlotCount = BeaconEngine::kSlotCount;
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
    const QByteArray& mask = Engine->SlotMask();
    if (mask.size() < kSlotCount) return;
    for (int i = 0; i < kSlotCount; ++i) {
        if (mask.at(i) == '1') GPSSlots[i]->setChecked(true);
    }
}

bool TForm1::SlotTicked(int slot) const {
    return GPSSlots[slot]->isChecked();
}

void TForm1::SetSlotTicked(int slot, bool ticked) {
    GPSSlots[slot]->setChecked(ticked);
}
