#pragma once
// One conversation with the beacon from the command line: the beacon line over a serial port and a
// countdown, shown on the terminal. The results come from the dialogue's outcomes. Runs in a
// QCoreApplication event loop.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTimer>
#include <QVector>
#include <cstdio>
#include <memory>
#include <optional>

#include "link/Backups.h"
#include "link/BeaconEngine.h"
#include "link/BeaconLine.h"
#include "tools/cli/Options.h"

class TVaComm;
class TSuperTimer;

namespace Cli {

class Session : public IBeaconView {
public:
    // `wanted`: the slots the beacon should use (program and verify of a synchronized beacon).
    Session(const Options& options, const QByteArray& commandText, const QVector<int>& wanted, FILE* out,
            FILE* err);
    ~Session() override;

    // Where a Program keeps the beacon's previous program.
    void SetBackupsFolder(const QString& folder) { keeper_.SetFolder(folder); }
    // Opens the port and starts the operation; false (with the exit status set) when that fails.
    bool Start(int portNumber);
    // Ends the session at once: nothing more is sent, the port is closed, and the event loop ends
    // with `status`.
    void Finish(int status, const QString& message = QString());
    // After a completed operation: waits until what was sent last has left the port.
    void Drain();
    int ExitStatus() const { return status_; }
    bool Finished() const { return finished_; }
    // A Program whose new message has not (yet) gone out whole: the beacon keeps its old one.
    bool MessageIncomplete() const { return options_.command == Command::Program && !uploadComplete_; }

    // IBeaconView
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
    void SetBusy(bool busy) override { busy_ = busy; }
    void BytesReceived(const QByteArray& bytes) override;
    void ByteSent(char c) override;
    QString KeepBeaconProgram(const QByteArray& message) override;
    QString KeepBeaconSlots(const QByteArray& table) override;
    void OnSequenceChecked(const SequenceCheck& check) override { sequence_ = check; }
    void OnSlotsChecked(const SlotCheck& check) override { slots_ = check; }
    void OnUploadProgress(qsizetype sent, qsizetype total) override;
    void OnUploadEnded(qsizetype sent, bool complete) override;
    void OnSlotStep(bool set, int seconds) override;
    void OnListingMayFollow() override;
    void OnOperationOver(LinkMode operation) override;

private:
    void OnData();
    void Complete();
    void Report();
    void ReportDifference(const SequenceCheck& check);
    void Log(char direction, const QByteArray& bytes);
    void Line(const QString& text);  // an operator message on the error stream
    QString OpenFailure(int portNumber, const QString& error) const;
    void ProgressLine(const QString& text);
    void EndProgressLine();
    void Rearm();
    BeaconEngine& Engine() { return line_->Engine(); }

    void BackupFailed();

    Options options_;
    Backups::Keeper keeper_;
    QByteArray command_;
    QByteArray ticks_;  // '1' for a wanted slot
    bool sync_;
    FILE* out_;
    FILE* err_;
    bool terminal_;
    std::unique_ptr<TVaComm> com_;
    std::unique_ptr<TSuperTimer> countdown_;
    std::unique_ptr<BeaconLine> line_;
    QTimer silence_;
    // A beacon not known to be synchronized has had its say when no slot listing follows in this time.
    QTimer listingGrace_;
    static constexpr int kListingGraceMs = 2000;
    QFile transcript_;
    QElapsedTimer clock_;
    QString caption_;
    QString shownCaption_;    // the status line told last
    bool stepShown_ = false;  // the slot step's caption was told by OnSlotStep
    bool busy_ = false;
    bool progressShown_ = false;
    bool uploadComplete_ = false;
    std::optional<SequenceCheck> sequence_;
    std::optional<SlotCheck> slots_;
    bool completing_ = false;
    bool finished_ = false;
    int status_ = kDone;
};

}  // namespace Cli
