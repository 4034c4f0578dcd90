#pragma once
// The real main window talking to a simulated beacon over a real pseudo-terminal, in one process.
// The simulator's device is mapped to one port number and opened the way the program opens a port.

#include <gtest/gtest.h>
#include <time.h>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/SuperTimer.h"
#include "device/VaComm.h"
#include "platform/Clock.h"
#include "platform/serial/Serial.h"
#include "support/FormHarness.h"
#include "tools/sim/BeaconSimulator.h"

// Processor time of the whole process (all threads, the simulator's included), in seconds.
using Clock::ProcessCpuSeconds;

class BeaconRig {
public:
    static constexpr int kPort = 9;
    // Generous: the machine is shared and the tests run under sanitizers.
    static constexpr int kTimeoutMs = 30000;

    explicit BeaconRig(zbsim::BeaconOptions options = {}) : sim(std::move(options)) {}
    ~BeaconRig() {
        harness.Destroy();  // closes the port before the simulator goes
        Serial::SetPortMap({});
    }

    // Starts the simulator and the window, then opens the simulator's device as port kPort.
    // Fails the test (fatally for the caller's ASSERT) when something cannot be set up.
    testing::AssertionResult Start() {
        std::string error;
        if (!sim.Start(&error)) return testing::AssertionFailure() << "simulator: " << error;
        form = &harness.Start();
        // The window's start-up replaces the port map from its settings, so the map is set afterwards.
        Serial::SetPortMap({{kPort, sim.DevicePath()}});
        form->Com->SetPortNum(kPort);
        form->Com->Open();
        if (!form->Com->IsOpen()) return testing::AssertionFailure() << "the port did not open";
        return testing::AssertionSuccess();
    }

    // Dispatches events until the predicate holds; false on time-out.
    static bool WaitFor(const std::function<bool()>& predicate, int timeoutMs = kTimeoutMs) {
        return QTest::qWaitFor(predicate, timeoutMs);
    }

    bool WaitForSimState(const std::string& state) {
        return WaitFor([&] { return sim.State() == state; });
    }

    // Waits until the simulator has seen `count` answers to its questions.
    bool WaitForAnswers(size_t count) {
        return WaitFor([&] { return sim.AnswerLog().size() >= count; });
    }

    // Times (monotonic, seconds) at which the simulator received each byte from the tool, in order.
    std::vector<std::pair<char, double>> ReceivedBytesWithTimes() const {
        std::vector<std::pair<char, double>> bytes;
        for (const zbsim::TranscriptEntry& entry : sim.Transcript()) {
            if (entry.direction != zbsim::Direction::FromTool) continue;
            for (char c : entry.bytes)
                bytes.emplace_back(c, static_cast<double>(entry.monotonicNs) / 1e9);
        }
        return bytes;
    }

    // Runs `before` on every data event of the port before the dialogue handles it, `after` once the
    // handler returned.
    void AroundEachDataEvent(std::function<void()> before, std::function<void()> after = {}) {
        TVaCommDataEvent original = form->Com->OnData;
        form->Com->OnData = [original, before = std::move(before), after = std::move(after)](TObject* sender,
                                                                                             int count) {
            if (before) before();
            if (original) original(sender, count);
            if (after) after();
        };
    }

    // Runs `action` once, inside the first pause of a data event that starts while `when` holds: a
    // zero-length timer armed at the start of the event fires in the pause's nested event loop, and is
    // dropped when the event had no pause.
    void DuringNextPause(std::function<bool()> when, std::function<void()> action) {
        auto depth = std::make_shared<int>(0);
        auto done = std::make_shared<bool>(false);
        AroundEachDataEvent(
            [=] {
                ++*depth;
                if (*done || !when()) return;
                QTimer::singleShot(0, [=] {
                    if (*depth == 0 || *done) return;
                    *done = true;
                    action();
                });
            },
            [=] { --*depth; });
        pressedInPause_ = done;
    }
    bool PausePressed() const { return pressedInPause_ && *pressedInPause_; }

    // Runs `before` just before the countdown's stop event (the upload) and `after` once it returned.
    void AroundUpload(std::function<void()> before, std::function<void()> after) {
        TNotifyEvent original = form->SendX->OnStop;
        form->SendX->OnStop = [original, before = std::move(before),
                               after = std::move(after)](TObject* sender) {
            if (before) before();
            if (original) original(sender);
            if (after) after();
        };
    }

    zbsim::BeaconSimulator sim;
    FormHarness harness;
    TForm1* form = nullptr;

private:
    std::shared_ptr<bool> pressedInPause_;
};
