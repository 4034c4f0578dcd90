#include "link/BeaconLine.h"

#include <string>

#include "device/SuperTimer.h"
#include "device/VaComm.h"
#include "link/Delay.h"

BeaconLine::BeaconLine(TVaComm& com, TSuperTimer& countdown, IBeaconView& view)
    : com_(com), countdown_(countdown), view_(view), engine_(view, *this) {}

void BeaconLine::HandleData() {
    std::string text;
    com_.ReadText(text);
    if (stopped_ || text.empty()) return;
    const QByteArray bytes = QByteArray::fromStdString(text);
    view_.BytesReceived(bytes);
    engine_.DataArrived(bytes);
}

void BeaconLine::CountdownExpired() {
    if (!stopped_) engine_.CountdownExpired();
}

void BeaconLine::Stop() {
    stopped_ = true;
    engine_.EndOperation();
}

bool BeaconLine::PortChosen() const {
    return com_.PortNum() != 0;
}

void BeaconLine::WriteChar(char c) {
    if (stopped_) return;
    com_.WriteChar(c);
    view_.ByteSent(c);
}

void BeaconLine::Pause(double units) {
    if (!stopped_) PacedWait::Delay(units);
}

void BeaconLine::StartCountdown() {
    countdown_.SetEnabled(true);
}

void BeaconLine::StopCountdown() {
    countdown_.SetEnabled(false);
}
