#pragma once
// The line to the beacon, wired once: the serial component's data go to the dialogue, the dialogue's
// answers and the upload go out through the serial component, its countdown runs on the countdown
// timer, and its pauses are the paced wait. The window and the command-line tool each own a serial
// component and a countdown timer and hand them over; they implement only what is shown (IBeaconView)
// and bind the components' events to HandleData and CountdownExpired.

#include <QByteArray>

#include "link/BeaconEngine.h"

class TVaComm;
class TSuperTimer;

class BeaconLine : public IBeaconPort {
public:
    BeaconLine(TVaComm& com, TSuperTimer& countdown, IBeaconView& view);

    BeaconEngine& Engine() { return engine_; }
    const BeaconEngine& Engine() const { return engine_; }

    // The serial component's data event: everything waiting in its input queue goes to the dialogue.
    // Serial errors are raised as exceptions.
    void HandleData();
    // The countdown's stop event: the upload.
    void CountdownExpired();
    // From here on nothing more is sent and nothing waited for: the running operation ends at once.
    void Stop();

    // IBeaconPort
    bool PortChosen() const override;
    void WriteChar(char c) override;
    void Pause(double units) override;
    void StartCountdown() override;
    void StopCountdown() override;

private:
    TVaComm& com_;
    TSuperTimer& countdown_;
    IBeaconView& view_;
    BeaconEngine engine_;
    bool stopped_ = false;
};
