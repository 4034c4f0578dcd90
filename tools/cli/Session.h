#pragma once
// One conversation with the beacon from the command line: the engine behind a serial port, a
// countdown, the paced wait and the terminal. Runs in a QCoreApplication event loop.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTimer>
#include <QVector>
#include <cstdio>
#include <memory>

#include "link/BeaconEngine.h"
#include "tools/cli/Options.h"

class TVaComm;
class TSuperTimer;

namespace Cli {

class Session : public IBeaconHost {
public:
    // `wanted`: the slots the beacon should use (program and verify of a synchronized beacon).
    Session(const Options& options, const QByteArray& commandText, const QVector<int>& wanted, FILE* out,
            FILE* err);
    ~Session() override;

    // Opens the port and starts the operation; false (with the exit status set) when that fails.
    bool Start(int portNumber);
    // Ends the session at once: nothing more is sent, the port is closed, and the event loop ends
    // with `status`.
    void Finish(int status, const QString& message = QString());
    // After a completed operation: waits until what was sent last has left the port.
    void Drain();
    int ExitStatus() const { return status_; }
    bool Finished() const { return finished_; }
    // The command string is being sent.
    bool Uploading() const { return busy_; }

    BeaconEngine& Engine() { return engine_; }

    // IBeaconHost
    QByteArray CommandText() const override { return command_; }
    void SetCommandText(const QByteArray& text) override { command_ = text; }
    void RemoveCommandLines(const std::function<bool(const QByteArray&)>& drop) override;
    QString TellCaption() const override { return caption_; }
    void SetTellCaption(const QString& caption) override;
    void SetTellLook(TellLook) override {}
    void SetTellBackground(TellBackground) override {}
    void SetStatus(const QString&) override {}
    void RebuildListing() override {}
    void AddListingNotice(const QString&) override {}
    bool SlotTicked(int slot) const override;
    void SetSlotTicked(int slot, bool ticked) override;
    bool SynchronizedOption() const override { return sync_; }
    void TickSynchronizedOption() override { sync_ = true; }
    bool PortChosen() const override { return true; }
    void WriteChar(char c) override;
    void Pause(double units) override;
    void StartCountdown() override;
    void StopCountdown() override;
    void SetBusy(bool busy) override;
    void AnswerSent() override;

private:
    void OnData();
    void QueueCheck();
    void CheckDone();
    bool MayAwaitListing() const;
    void Complete();
    void Report();
    void Log(char direction, const QByteArray& bytes);
    void Line(const QString& text);  // an operator message on the error stream
    QString OpenFailure(int portNumber, const QString& error) const;
    void ProgressLine(const QString& text);
    void EndProgressLine();
    void Rearm();

    Options options_;
    QByteArray command_;
    QByteArray ticks_;  // '1' for a wanted slot
    bool sync_;
    FILE* out_;
    FILE* err_;
    bool terminal_;
    BeaconEngine engine_;
    std::unique_ptr<TVaComm> com_;
    std::unique_ptr<TSuperTimer> countdown_;
    QTimer silence_;
    QTimer listingGrace_;
    static constexpr int kListingGraceMs = 2000;
    QFile transcript_;
    QElapsedTimer clock_;
    QString caption_;
    QString shownCaption_;  // the status line told last
    bool busy_ = false;
    bool progressShown_ = false;
    int uploaded_ = 0;
    bool verifyFailed_ = false;
    bool checkQueued_ = false;
    bool finished_ = false;
    int status_ = kDone;
};

}  // namespace Cli
