#include "tools/cli/Session.h"

#include <unistd.h>

#include <algorithm>

#include <QCoreApplication>
#include <QFileInfo>

#include "command/CommandTable.h"
#include "command/CommandText.h"
#include "device/SuperTimer.h"
#include "device/VaComm.h"
#include "link/Delay.h"
#include "link/PortSettings.h"
#include "platform/FileNames.h"
#include "platform/TextFile.h"
#include "platform/serial/PortMap.h"
#include "platform/serial/Serial.h"

namespace Cli {
namespace {

// Bytes as one readable line: printable characters as they are, the rest as <CR>, <LF>, <0xNN>.
QByteArray Readable(const QByteArray& bytes) {
    QByteArray text;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\r') {
            text += "<CR>";
        } else if (u == '\n') {
            text += "<LF>";
        } else if (u < 32 || u >= 127 || u == '<') {
            text += "<0x" + QByteArray::number(u, 16).rightJustified(2, '0').toUpper() + ">";
        } else {
            text += c;
        }
    }
    return text;
}

// The slot table as the seconds of the cycle it uses, e.g. "0,60".
QString SlotSeconds(const QByteArray& mask) {
    QStringList seconds;
    for (int i = 0; i < mask.size() && i < BeaconEngine::kSlotCount; ++i) {
        if (mask.at(i) == '1') seconds << QString::number(5 * i);
    }
    return seconds.isEmpty() ? QStringLiteral("none") : seconds.join(QLatin1Char(','));
}

}  // namespace

Session::Session(const Options& options, const QByteArray& commandText, const QVector<int>& wanted, FILE* out,
                 FILE* err)
    : options_(options),
      command_(commandText),
      ticks_(BeaconEngine::kSlotCount, '0'),
      sync_(options.sync),
      out_(out),
      err_(err),
      terminal_(::isatty(::fileno(err)) == 1) {
    for (int slot : wanted)
        ticks_[slot] = '1';
    silence_.setSingleShot(true);
    QObject::connect(&silence_, &QTimer::timeout,
                     [this] { Finish(kTimedOut, QStringLiteral("timed out waiting for the beacon")); });
    // A beacon not known to be synchronized has had its say when no slot listing follows the last answer.
    listingGrace_.setSingleShot(true);
    listingGrace_.setInterval(kListingGraceMs);
    QObject::connect(&listingGrace_, &QTimer::timeout, [this] {
        if (!sync_) Complete();
    });
    clock_.start();
}

Session::~Session() {
    if (com_) {
        try {
            com_->Close();
        } catch (...) {
            // Closing is the last thing done; an error there changes nothing for the operator.
        }
    }
}

bool Session::Start(int portNumber) {
    if (!options_.transcript.isEmpty()) {
        transcript_.setFileName(options_.transcript);
        if (!transcript_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            status_ = kUsage;
            Line(QStringLiteral("zbeacon-cli: cannot create the transcript %1: %2")
                     .arg(options_.transcript, transcript_.errorString()));
            return false;
        }
    }
    com_ = std::make_unique<TVaComm>();
    SetBeaconLine(*com_);
    com_->SetPortNum(portNumber);
    countdown_ = std::make_unique<TSuperTimer>();
    countdown_->SetCountDown(true);
    line_ = std::make_unique<BeaconLine>(*com_, *countdown_, *this);
    keeper_.SetPort(portNumber,
                    QString::fromLocal8Bit(Serial::DevicePath("COM" + std::to_string(portNumber))));
    com_->OnData = [this](TObject*, int) { OnData(); };
    try {
        com_->Open();
    } catch (const std::exception& e) {
        status_ = kPortError;
        Line(QStringLiteral("zbeacon-cli: ") + OpenFailure(portNumber, QString::fromLocal8Bit(e.what())));
        return false;
    }
    if (!com_->IsOpen()) {
        status_ = kPortError;
        Line(QStringLiteral("zbeacon-cli: cannot open %1")
                 .arg(QString::fromLocal8Bit(Serial::DevicePath("COM" + std::to_string(portNumber)))));
        return false;
    }
    // Whatever the line held before the operation starts is no part of it (the window's start empties
    // the received text the same way).
    try {
        std::string stale;
        com_->ReadText(stale);
    } catch (const std::exception& e) {
        status_ = kPortError;
        Line(QStringLiteral("zbeacon-cli: ") + QString::fromLocal8Bit(e.what()));
        return false;
    }
    countdown_->OnStop = [this](TObject*) {
        try {
            line_->CountdownExpired();
        } catch (const std::exception& e) {
            Finish(kPortError, QString::fromLocal8Bit(e.what()));
        }
    };
    const LinkMode mode = options_.command == Command::Read      ? LinkMode::Read
                          : options_.command == Command::Program ? LinkMode::Program
                                                                 : LinkMode::Verify;
    Engine().Start(mode);
    Rearm();
    return true;
}

// The port's open error in the tool's own terms: the device the operator gave (or the one a COM number
// stands for, and where that number was looked up), the reason, and what to do from here.
QString Session::OpenFailure(int portNumber, const QString& error) const {
    const QString device = QString::fromLocal8Bit(Serial::DevicePath("COM" + std::to_string(portNumber)));
    const bool missing = error.startsWith(QLatin1String("Invalid port number"));
    QString given = device;
    const bool path = options_.port.contains(QLatin1Char('/')) || QFileInfo::exists(options_.port);
    if (!path) {
        given =
            Serial::IsMapped(portNumber)
                ? QStringLiteral("COM%1 (%2, as %3 maps it)").arg(portNumber).arg(device, options_.settings)
                : QStringLiteral("COM%1 (%2: %3 maps no device to it)")
                      .arg(portNumber)
                      .arg(device, options_.settings);
    }
    const QStringList lines = error.split(QLatin1Char('\n'));
    // The second line reads "<device>: <reason>. <advice>"; advice that names the window's menus or
    // its port choice does not fit here.
    QString reason = lines.size() > 1 ? lines.at(1) : lines.at(0);
    if (reason.startsWith(device + QStringLiteral(": "))) reason = reason.mid(device.size() + 2);
    QStringList sentences = reason.split(QStringLiteral(". "));
    if (path && missing) sentences = {QStringLiteral("no such device")};  // not a mapped adapter that is away
    QString text = QStringLiteral("cannot open %1: %2").arg(given, sentences.takeFirst());
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    for (const QString& sentence : sentences) {
        if (sentence.contains(QLatin1String("Options > Comm")) ||
            sentence.contains(QLatin1String("choose the port")) ||
            sentence.contains(QLatin1String("Plug the adapter in")))
            continue;
        text += QStringLiteral(". ") + sentence;
        if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    }
    if (missing) text += QStringLiteral("; `zbeacon-cli ports` lists the devices present");
    return text;
}

void Session::Finish(int status, const QString& message) {
    if (finished_) return;
    finished_ = true;
    status_ = status;
    if (line_) line_->Stop();
    silence_.stop();
    listingGrace_.stop();
    EndProgressLine();
    if (!message.isEmpty()) Line(QStringLiteral("zbeacon-cli: ") + message);
    QCoreApplication::exit(status);
}

void Session::Drain() {
    if (!com_ || !com_->IsOpen() || (status_ != kDone && status_ != kFailed)) return;
    // Closing the port discards its output queue: the last answer must have left it first. The
    // transmitter's queue is watched where the device reports it; a short pause covers the rest.
    try {
        for (int i = 0; i < 100; ++i) {
            Serial::COMSTAT stat{};
            com_->ReadStatus(stat);
            if (stat.cbOutQue == 0) break;
            PacedWait::Delay(0.02);
        }
    } catch (const std::exception&) {
        return;  // the port is gone; nothing is left to wait for
    }
    PacedWait::Delay(0.1);
}

void Session::OnData() {
    if (finished_) return;
    try {
        line_->HandleData();
    } catch (const std::exception& e) {
        Finish(kPortError, QString::fromLocal8Bit(e.what()));
    }
}

void Session::BytesReceived(const QByteArray& bytes) {
    Log('<', bytes);
    Rearm();
    // Only a slot listing in progress holds the end back; other text does not.
    if (listingGrace_.isActive() && bytes.contains("sec")) listingGrace_.start();
}

void Session::ByteSent(char c) {
    Log('>', QByteArray(1, c));
    Rearm();
}

void Session::Rearm() {
    if (options_.timeout > 0 && !finished_) silence_.start(static_cast<int>(options_.timeout * 1000));
}

void Session::RemoveCommandLines(const std::function<bool(const QByteArray&)>& drop) {
    command_ = Commands::RemoveLines(command_, drop);
}

// The strip's captions are the operator's status lines, told once each as they change. The upload's
// ticker and the slot steps are shown from the dialogue's outcomes instead.
void Session::SetTellCaption(const QString& caption) {
    caption_ = caption;
    if (finished_ || caption.isEmpty() || busy_) return;
    if (std::exchange(stepShown_, false)) return;
    if (caption == shownCaption_) return;
    shownCaption_ = caption;
    Line(caption);
}

bool Session::SlotTicked(int slot) const {
    return slot >= 0 && slot < ticks_.size() && ticks_.at(slot) == '1';
}

void Session::SetSlotTicked(int slot, bool ticked) {
    if (slot >= 0 && slot < ticks_.size()) ticks_[slot] = ticked ? '1' : '0';
}

QString Session::KeepBeaconProgram(const QByteArray& message) {
    const QString failure = keeper_.KeepProgram(message, sync_);
    if (!failure.isEmpty()) BackupFailed();
    return failure;
}

QString Session::KeepBeaconSlots(const QByteArray& table) {
    const QString failure = keeper_.KeepSlots(table);
    if (!failure.isEmpty()) BackupFailed();
    return failure;
}

// The dialogue has ended with nothing sent and told why on the strip (the error stream); the session
// ends once the rule that asked has returned.
void Session::BackupFailed() {
    QTimer::singleShot(0, &silence_, [this] { Finish(kBackupFailed); });
}

void Session::OnUploadProgress(qsizetype sent, qsizetype total) {
    if (terminal_ && !finished_)
        ProgressLine(QStringLiteral("Sending character %1 of %2").arg(sent).arg(total));
}

void Session::OnUploadEnded(qsizetype sent, bool complete) {
    uploadComplete_ = complete;
    if (finished_) return;
    EndProgressLine();
    Line(QStringLiteral("Sent %1 characters").arg(sent));
}

void Session::OnSlotStep(bool set, int seconds) {
    stepShown_ = true;
    const QString step =
        (set ? QStringLiteral("Set Slot ") : QStringLiteral("Clear Slot ")) + QString::number(seconds);
    shownCaption_ = step;
    if (terminal_) {
        ProgressLine(step);
    } else {
        Line(step);
    }
}

// The operation's own part is over: a synchronized beacon would print its slot listing at once, and
// anything else means there is nothing more to come.
void Session::OnListingMayFollow() {
    if (!sync_ && !finished_) listingGrace_.start();
}

void Session::OnOperationOver(LinkMode) {
    // Told once the rule that ended the operation has returned, so that its last steps count.
    QTimer::singleShot(0, &silence_, [this] { Complete(); });
}

void Session::Complete() {
    if (finished_ || completing_) return;
    completing_ = true;
    listingGrace_.stop();
    Report();
    const bool failed = (sequence_ && !sequence_->matched) || (slots_ && !slots_->verified);
    if (status_ == kDone) Finish(failed ? kFailed : kDone);
}

void Session::Report() {
    EndProgressLine();  // results go to the standard output, which may share the terminal's line
    switch (options_.command) {
        case Command::Read: {
            // Exactly the bytes that -o saves, whatever they are, with the terminal's line breaks.
            QByteArray text = command_;
            text.replace("\r\n", "\n");
            text += "\n\n";
            std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), out_);
            const Commands::Decoded decoded =
                Commands::DecodeText(command_, sync_, Commands::MaxCharFor(sync_));
            for (const QString& row : decoded.rows)
                std::fprintf(out_, "%s\n", row.toLatin1().constData());
            if (sync_ && Engine().SlotMask().size() >= BeaconEngine::kSlotCount) {
                std::fprintf(out_, "\nGPS slots: %s (%s)\n",
                             SlotSeconds(Engine().SlotMask()).toLatin1().constData(),
                             Engine().SlotMask().left(BeaconEngine::kSlotCount).constData());
            }
            std::fflush(out_);
            if (!options_.output.isEmpty()) {
                try {
                    SaveCommandFile(FileNames::Native(options_.output), command_.toStdString());
                } catch (const std::exception& e) {
                    status_ = kFailed;
                    Finish(kFailed, QString::fromLocal8Bit(e.what()));
                }
            }
            break;
        }
        case Command::Verify: {
            QString result = sequence_ && sequence_->matched ? QStringLiteral("Beacon Sequence OK")
                                                             : QStringLiteral("Sequence Verify Failed");
            if (slots_)
                result += slots_->verified ? QStringLiteral(" - GPS Verified")
                                           : QStringLiteral(" - GPS Slot Error");
            std::fprintf(out_, "%s\n", result.toLatin1().constData());
            if (sequence_ && !sequence_->matched) ReportDifference(*sequence_);
            if (slots_) {
                for (int slot : slots_->differing) {
                    std::fprintf(out_, "slot %d s: beacon %s, file %s\n", 5 * slot,
                                 slots_->beaconTable.at(slot) == '1' ? "on" : "off",
                                 SlotTicked(slot) ? "on" : "off");
                }
            }
            std::fflush(out_);
            break;
        }
        case Command::Program:
            if (!keeper_.LastBackup().isEmpty())
                std::fprintf(out_, "Previous program kept: %s\n",
                             keeper_.LastBackup().toLocal8Bit().constData());
            std::fprintf(out_, "Beacon programmed\n");
            if (sync_ && Engine().SlotMask().size() >= BeaconEngine::kSlotCount) {
                std::fprintf(out_, "GPS slots: %s (%s)\n",
                             SlotSeconds(Engine().SlotMask()).toLatin1().constData(),
                             Engine().SlotMask().left(BeaconEngine::kSlotCount).constData());
            }
            std::fflush(out_);
            break;
        default:
            break;
    }
}

// Both texts as compared (line breaks left out), a caret under the first character in which they
// differ, and its position.
void Session::ReportDifference(const SequenceCheck& check) {
    const QString beacon = VisibleText(ComparedText(check.beaconText));
    const QString file = VisibleText(check.fileText);
    const qsizetype at = std::max<qsizetype>(check.firstDifference, 0);
    const qsizetype column = VisibleText(check.fileText.left(at)).size();
    std::fprintf(out_, "beacon: %s\n", beacon.toLatin1().constData());
    std::fprintf(out_, "file:   %s\n", file.toLatin1().constData());
    std::fprintf(out_, "        %s^\n", QString(column, QLatin1Char(' ')).toLatin1().constData());
    std::fprintf(out_, "%s\n", DifferenceText(check).toLatin1().constData());
}

void Session::Log(char direction, const QByteArray& bytes) {
    if (!transcript_.isOpen()) return;
    const double seconds = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
    transcript_.write(QByteArray::number(seconds, 'f', 6) + ' ' + direction + ' ' + Readable(bytes) + '\n');
    transcript_.flush();
}

void Session::Line(const QString& text) {
    EndProgressLine();
    std::fprintf(err_, "%s\n", text.toLatin1().constData());
    std::fflush(err_);
}

void Session::ProgressLine(const QString& text) {
    std::fprintf(err_, "\r\033[K%s", text.toLatin1().constData());
    std::fflush(err_);
    progressShown_ = true;
}

void Session::EndProgressLine() {
    if (!progressShown_) return;
    progressShown_ = false;
    std::fputc('\n', err_);
    std::fflush(err_);
}

}  // namespace Cli
