#pragma once
// The beacon engine without widgets: a host that keeps the command string, the strip and the slot ticks
// as plain values, answers to the simulator's beacon logic directly, and pauses for no time at all.
// Whatever the beacon prints is delivered as data events in chunks of a chosen size; a pause delivers
// what had arrived when it began, as a short pause of the event loop does.

#include <QStringList>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "command/CommandText.h"
#include "link/BeaconEngine.h"
#include "tools/sim/BeaconLogic.h"

class FakeBeaconHost : public IBeaconHost {
public:
    explicit FakeBeaconHost(zbsim::BeaconConfig config = {}) : beacon(std::move(config)) {}

    // Delivers up to `limit` bytes of what the beacon has printed, `chunk` bytes per data event (0: all
    // at once), or the sizes of `chunks` in turn when it is not empty.
    void Deliver(size_t limit = std::string::npos) {
        limit = std::min(limit, pending.size());
        while (limit > 0 && !pending.empty()) {
            const size_t size = chunks.empty() ? chunk : chunks[nextChunk++ % chunks.size()];
            const size_t n = std::min({size == 0 ? limit : size, limit, pending.size()});
            const QByteArray text = QByteArray::fromStdString(pending.substr(0, n));
            pending.erase(0, n);
            limit -= n;
            engine.DataArrived(text);
        }
    }

    void Collect() {
        for (const zbsim::OutputPiece& piece : beacon.TakeOutput())
            pending += piece.text;
    }

    // Runs the conversation until nothing more happens: the beacon's text delivered, the countdown run.
    void Run() {
        for (;;) {
            Collect();
            while (!pending.empty()) {
                Deliver();
                Collect();
            }
            if (!countdown) return;
            countdown = false;
            engine.CountdownExpired();
        }
    }

    QByteArray Ticks() const { return ticks; }

    QByteArray CommandText() const override { return command; }
    void SetCommandText(const QByteArray& text) override { command = text; }
    void RemoveCommandLines(const std::function<bool(const QByteArray&)>& drop) override {
        command = Commands::RemoveLines(command, drop);
    }
    QString TellCaption() const override { return caption; }
    void SetTellCaption(const QString& text) override { caption = text; }
    void SetTellLook(TellLook value) override { look = value; }
    void SetTellBackground(TellBackground) override {}
    void SetStatus(const QString& text) override { status = text; }
    void RebuildListing() override { ++rebuilds; }
    void AddListingNotice(const QString& line) override { notices << line; }
    bool SlotTicked(int slot) const override { return ticks.at(slot) == '1'; }
    void SetSlotTicked(int slot, bool ticked) override { ticks[slot] = ticked ? '1' : '0'; }
    bool SynchronizedOption() const override { return synchronized; }
    void TickSynchronizedOption() override { synchronized = true; }
    bool PortChosen() const override { return true; }
    void WriteChar(char c) override {
        sent += c;
        beacon.Feed(static_cast<unsigned char>(c));
    }
    void Pause(double units) override {
        pauses.push_back(units);
        if (duringPause) duringPause();
        Collect();
        Deliver(pending.size());
    }
    void StartCountdown() override { countdown = true; }
    void StopCountdown() override { countdown = false; }
    void SetBusy(bool value) override { busy = value; }
    void AnswerSent() override { ++answers; }

    zbsim::BeaconLogic beacon;
    BeaconEngine engine{*this};
    size_t chunk = 0;
    std::vector<size_t> chunks;
    size_t nextChunk = 0;
    std::string pending;  // printed by the beacon, not yet delivered
    QByteArray command;
    QString caption;
    QString status;
    TellLook look = TellLook::Neutral;
    QByteArray ticks = QByteArray(BeaconEngine::kSlotCount, '0');
    bool synchronized = false;
    std::string sent;
    std::vector<double> pauses;
    std::function<void()> duringPause;
    bool countdown = false;
    bool busy = false;
    int rebuilds = 0;
    int answers = 0;
    QStringList notices;
};
