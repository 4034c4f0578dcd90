// The GPS slot schedule: 24 transmit slots per two-minute cycle, the menu that chooses them, the beacon's
// slot listing, and the steps that change the beacon's table one slot at a time.
#include <QAction>
#include <QMenu>

#include "app/ZB.h"
#include "device/VaComm.h"
#include "link/SlotListing.h"

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

void TForm1::ReadSlotListing() {
    if (std::optional<QByteArray> mask = SlotListing::Read(ReceivedText)) SlotMask = *mask;
}

bool TForm1::SlotsMatch() const {
    for (int i = 0; i < kSlotCount; ++i) {
        if (i >= SlotMask.size()) break;  // positions past a short table agree
        const bool ticked = GPSSlots[i]->isChecked();
        if (ticked && SlotMask.at(i) == '0') return false;
        if (!ticked && SlotMask.at(i) == '1') return false;
    }
    return true;
}

// Sets or clears the lowest-numbered slot in which the menu and the beacon's table differ.
bool TForm1::SlotSearch(unsigned operation) {
    if (SlotMask.size() < kSlotCount) return false;
    for (int i = 0; i < kSlotCount; ++i) {
        const bool ticked = GPSSlots[i]->isChecked();
        const char beacon = SlotMask.at(i);
        if ((ticked && beacon == '0') || (!ticked && beacon == '1')) {
            SlotSeconds = 5 * i;
            TellProgress();
            SetTellCaption((ticked ? QStringLiteral("Set Slot ") : QStringLiteral("Clear Slot ")) +
                           QString::number(SlotSeconds));
            if (!PauseWithin(0.5, operation)) return true;
            Com->WriteChar(ticked ? 's' : 'c');
            return true;
        }
    }
    return false;
}

// Answers the beacon's time question with the slot's offset in the two-minute cycle, ended by CR.
void TForm1::SlotTimeStep(unsigned operation) {
    LinkMode.clear();
    if (SlotSeconds > 115) SlotSeconds = 0;
    const QByteArray time = QByteArray::number(SlotSeconds) + "\r";
    ReceivedText = "Sending Slot Time " + time;
    LinkMode = "ProgramGPS";
    if (!PauseWithin(0.4, operation)) return;
    for (char c : time) {
        if (!PauseWithin(0.1, operation)) return;
        Com->WriteChar(c);
    }
}
