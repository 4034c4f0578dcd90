#include "link/BeaconEngine.h"

#include <algorithm>

#include "command/CommandText.h"
#include "link/SlotListing.h"

namespace {
const char kCheckJumper[] = "Check jumper. Turn beacon off and then on.";
constexpr int kTickerLength = 51;

// The command string as searched for in the beacon's output: every control character removed.
QByteArray SearchText(const QByteArray& memo) {
    QByteArray search;
    for (char c : memo) {
        if (static_cast<unsigned char>(c) >= 32) search += c;
    }
    return search;
}
}  // namespace

QByteArray ComparedText(const QByteArray& text) {
    return SearchText(text);
}

QString VisibleText(const QByteArray& bytes) {
    QString text;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\r') {
            text += QStringLiteral("<CR>");
        } else if (u == '\n') {
            text += QStringLiteral("<LF>");
        } else if (u < 32 || u == 127 || u == 0xFF) {
            text += QStringLiteral("<0x") +
                    QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper() + QLatin1Char('>');
        } else {
            text += QChar(u);
        }
    }
    return text;
}

QString DifferenceText(const SequenceCheck& check) {
    const qsizetype at = std::max<qsizetype>(check.firstDifference, 0);
    const qsizetype from = std::max<qsizetype>(at - 2, 0);
    const QByteArray beacon = ComparedText(check.beaconText).mid(from, at + 1 - from);
    const QByteArray file = check.fileText.mid(from, at + 1 - from);
    return QStringLiteral("Differs at character %1: beacon '%2', file '%3'")
        .arg(at + 1)
        .arg(VisibleText(beacon), VisibleText(file));
}

QByteArray LinkModeName(LinkMode mode) {
    switch (mode) {
        case LinkMode::Idle:
            return {};
        case LinkMode::Read:
            return "Read";
        case LinkMode::ReadGPS:
            return "ReadGPS";
        case LinkMode::Program:
            return "Program";
        case LinkMode::ProgramGPS:
            return "ProgramGPS";
        case LinkMode::ProgramGPS2:
            return "ProgramGPS2";
        case LinkMode::ProgramGPS3:
            return "ProgramGPS3";
        case LinkMode::Verify:
            return "Verify";
        case LinkMode::VerifyGPS:
            return "VerifyGPS";
    }
    return {};
}

void BeaconEngine::Reset() {
    received_.clear();
    mode_ = LinkMode::Idle;
}

bool BeaconEngine::CanStart() {
    if (!port_.PortChosen()) {
        host_.SetTellBackground(TellBackground::Red);
        host_.SetTellCaption(QStringLiteral("Select Comm Port"));
        return false;
    }
    if (!host_.PortReady()) {
        host_.SetTellBackground(TellBackground::Red);
        return false;
    }
    return true;
}

bool BeaconEngine::Start(LinkMode mode) {
    host_.SetTellBackground(TellBackground::Red);
    if (!CanStart()) return false;
    host_.SetTellCaption(QString::fromLatin1(kCheckJumper));
    host_.SetStatus(mode == LinkMode::Program ? QStringLiteral("Ready to program beacon")
                                              : QStringLiteral("Ready to read beacon"));
    received_.clear();
    mode_ = mode;
    ++operation_;
    port_.StopCountdown();  // a countdown belongs to the operation that started it
    answeredYes_ = false;
    listingMayFollowRead_ = false;
    slotsKept_ = false;
    slotChange_.reset();
    return true;
}

void BeaconEngine::EndOperation() {
    ++operation_;
    port_.StopCountdown();
    mode_ = LinkMode::Idle;
    received_.clear();
    answeredYes_ = false;
    listingMayFollowRead_ = false;
    slotsKept_ = false;
    slotChange_.reset();
}

bool BeaconEngine::FirstQuestionAsked() const {
    qsizetype firstBreak = 0;
    while (firstBreak < received_.size() && received_.at(firstBreak) != '\r' &&
           received_.at(firstBreak) != '\n')
        ++firstBreak;
    // "y/n" CR LF whose CR is past the end of the first line.
    return received_.indexOf("y/n\r\n", std::max<qsizetype>(0, firstBreak - 2)) >= 0;
}

bool BeaconEngine::IsPromptLine(const QByteArray& line) {
    return line.isEmpty() || line.contains("Change program?") || line.contains("Enter new program") ||
           line.contains("Chg msg? y/n");
}

// Pauses before an answer; false when an operation was started meanwhile, which then owns the dialogue:
// the interrupted rule sends nothing more and leaves the state alone.
bool BeaconEngine::PauseWithin(double units, unsigned operation) {
    port_.Pause(units);
    return operation_ == operation;
}

void BeaconEngine::Send(char c) {
    port_.WriteChar(c);
    host_.AnswerSent();
}

void BeaconEngine::DataArrived(const QByteArray& text) {
    const unsigned operation = operation_;
    received_ += text;
    // Prompts are answered in the event that completes them, so only the newest text is still needed.
    if (received_.size() > kMaxReceivedText) received_.remove(0, received_.size() - kKeptReceivedText);
    host_.ReceivedTextGrew();

    if (mode_ == LinkMode::Read) {
        host_.SetCommandText(Commands::CommandTextFrom(received_));
        host_.SetTellLook(TellLook::Neutral);
        host_.SetTellCaption(QStringLiteral("Reading"));
        host_.SetStatus(QStringLiteral("Reading"));
    }
    host_.RemoveCommandLines(&BeaconEngine::IsPromptLine);

    // The question after the message, answered no while the slots are being brought into line.
    if (received_.contains("sg? y/n") && mode_ == LinkMode::ProgramGPS) {
        received_ = "Answer no " + ModeName() + "\r";
        if (!PauseWithin(1, operation)) return;
        Send('n');
        if (!host_.SynchronizedOption()) host_.OnListingMayFollow();
        return;
    }
    // The beacon asks for the slot's time.
    if (received_.contains("sec?") && mode_ == LinkMode::ProgramGPS3) {
        SlotTimeStep(operation);
        return;
    }
    // Set or clear the first slot in which the menu and the beacon differ.
    if (received_.contains("s/c") && mode_ == LinkMode::ProgramGPS2) {
        mode_ = LinkMode::ProgramGPS3;
        received_ = "ProgramGPS3\r";
        if (SetOrClearSlot(operation)) return;
    }
    // A question ending in "y/n" CR LF; each step sees the state the step before left.
    if (received_.contains("y/n\r\n")) {
        if (received_.contains("55 sec") && received_.contains("GPS? y/n")) {
            if (!host_.SynchronizedOption()) host_.TickSynchronizedOption();
            ReadSlotListing();
            if (mode_ == LinkMode::Idle && listingMayFollowRead_) mode_ = LinkMode::ReadGPS;
            listingMayFollowRead_ = false;
            if (mode_ == LinkMode::ReadGPS) {
                received_.clear();
                mode_ = LinkMode::Idle;
                if (!PauseWithin(1, operation)) return;
                Send('n');
                if (slotMask_.size() >= kSlotCount) {
                    for (int i = 0; i < kSlotCount; ++i)
                        host_.SetSlotTicked(i, slotMask_.at(i) == '1');
                    host_.AddListingNotice(QStringLiteral("GPS Menu set to programmed beacon slots"));
                }
                host_.OnOperationOver(LinkMode::Read);
            }
            if (mode_ == LinkMode::VerifyGPS) {
                received_.clear();
                mode_ = LinkMode::Idle;
                const SlotCheck check = CheckSlots();
                host_.SetTellCaption(host_.TellCaption() + (check.verified
                                                                ? QStringLiteral(" - GPS Verified")
                                                                : QStringLiteral(" - GPS Slot Error")));
                if (!PauseWithin(1, operation)) return;
                Send('n');
                host_.OnSlotsChecked(check);
                host_.OnOperationOver(LinkMode::Verify);
            }
        }
        if (mode_ == LinkMode::Read && FirstQuestionAsked()) {
            mode_ = LinkMode::Idle;
            received_ = "Command: " + ModeName() + "\r";
            if (!PauseWithin(1, operation)) return;
            Send('n');
            if (host_.SynchronizedOption()) mode_ = LinkMode::ReadGPS;
            host_.SetTellCaption(QString());
            host_.RebuildListing();
            // The strip goes blank; the status line says what was done.
            host_.SetStatus(QStringLiteral("Beacon read: %1 characters").arg(host_.CommandText().size()));
            received_ = "Command: " + ModeName() + "\r";
            // A beacon not yet known to be synchronized may still print its slot listing: the read
            // then finishes in the same pass, as if the option had been ticked.
            listingMayFollowRead_ = mode_ == LinkMode::Idle;
            if (listingMayFollowRead_) host_.OnListingMayFollow();
        }
        if (mode_ == LinkMode::Program && FirstQuestionAsked()) {
            // The question is replaced before the pause, like every other answered one: text that
            // arrives during the pause is handled inside it and must not find the question again (a
            // second y would go into the new message). That text is kept for the next rules.
            const QByteArray stored = StoredMessage();
            received_ = "Command: " + ModeName() + "\r";
            // Nothing is answered before the program it replaces is kept.
            const QString failure = host_.KeepBeaconProgram(stored);
            if (!failure.isEmpty()) {
                RefuseProgram(failure);
                return;
            }
            if (!PauseWithin(1, operation)) return;
            Send('y');
            answeredYes_ = true;
            host_.SetTellLook(TellLook::Progress);
            host_.SetTellCaption(QStringLiteral("Programming Beacon"));
            host_.SetStatus(QStringLiteral("Programming Beacon"));
        }
        if (mode_ == LinkMode::ProgramGPS && !received_.contains("GPS? y/n")) {
            // Any other question after the message means the beacon was switched on again after a
            // normal beacon was programmed: the operation is over and the question is left to the
            // operator's next operation.
            mode_ = LinkMode::Idle;
            host_.OnOperationOver(LinkMode::Program);
        }
        if (mode_ == LinkMode::ProgramGPS) {
            mode_ = LinkMode::ProgramGPS2;
            received_ = ModeName() + "\r";
            // The slot table the beacon had is kept with its message before any slot is changed.
            if (!slotsKept_ && slotMask_.size() >= kSlotCount) {
                slotsKept_ = true;
                const QString failure = host_.KeepBeaconSlots(slotMask_.left(kSlotCount));
                if (!failure.isEmpty()) {
                    RefuseProgram(failure);
                    return;
                }
            }
            // The slot is chosen now, with the y: a tick changed before the set-or-clear question
            // arrives cannot leave that question unanswered.
            slotChange_ = FirstDifference();
            if (SlotsMatch()) {
                mode_ = LinkMode::Idle;
                received_ = "GPS Verified";
                const SlotCheck check = CheckSlots();
                if (!PauseWithin(1, operation)) return;
                Send('n');
                host_.OnSlotsChecked(check);
                host_.OnOperationOver(LinkMode::Program);
            } else {
                if (!PauseWithin(1, operation)) return;
                Send('y');
            }
        }
        if (mode_ == LinkMode::Verify && FirstQuestionAsked()) {
            const SequenceCheck check = CheckSequence();
            if (check.matched) {
                host_.SetTellLook(TellLook::Progress);
                host_.SetTellCaption(QStringLiteral("Beacon Sequence OK"));
            } else {
                host_.SetTellLook(TellLook::Alert);
                host_.SetTellCaption(QStringLiteral("Sequence Verify Failed"));
            }
            mode_ = LinkMode::VerifyGPS;
            // The question is answered: when it was already the slot question (the beacon was further
            // on than the operator thought), its text must not be answered again by the slot rule.
            received_.clear();
            if (!PauseWithin(1, operation)) return;
            Send('n');
            host_.OnSequenceChecked(check);
            if (!host_.SynchronizedOption()) host_.OnListingMayFollow();
        }
    }
    // The beacon asks for the new message; the countdown starts the upload a second later. Only after
    // this operation's y: the stored program printed before the first question may hold the same words.
    if ((received_.contains("by Z.") || received_.contains("then Z")) && mode_ == LinkMode::Program &&
        answeredYes_) {
        received_ = "SendX\r";
        countdownOperation_ = operation_;
        port_.StartCountdown();
    }
}

void BeaconEngine::CountdownExpired() {
    // Another operation was started while the countdown ran: nothing to send.
    if (mode_ != LinkMode::Program || countdownOperation_ != operation_) return;
    const unsigned operation = operation_;
    mode_ = LinkMode::Idle;
    received_.clear();
    host_.SetBusy(true);
    host_.SetTellLook(TellLook::Progress);
    host_.SetTellCaption(QString());
    // From here on the beacon's questions after the message are answered by the dialogue.
    mode_ = LinkMode::ProgramGPS;
    const qsizetype n = host_.CommandText().size();
    qsizetype sent = 0;
    qsizetype handled = 0;
    // The cursor is always restored; the strip and the status line belong to an operation started
    // during the upload, if there is one.
    auto finish = [this, operation] {
        host_.SetBusy(false);
        if (operation_ != operation) return;
        host_.SetTellBackground(TellBackground::White);
        host_.SetTellCaption(QString());
        host_.SetStatus(QString());
    };
    try {
        for (qsizetype i = 0; i < n && operation_ == operation; ++i) {
            // An operation started during a pause ends the upload: without its closing "Z" the message
            // is not stored, and the beacon keeps its old program.
            // The command string is read afresh for every character: edits made during the pauses count.
            const QByteArray text = host_.CommandText();
            if (i >= text.size()) break;  // it became shorter meanwhile
            const char c = text.at(i);
            if (static_cast<unsigned char>(c) >= 32) {
                port_.WriteChar(c);
                ++sent;
            }
            QString ticker = host_.TellCaption();
            if (ticker.size() >= kTickerLength) ticker.remove(0, 1);
            ticker += QChar(static_cast<unsigned char>(c));
            host_.SetTellCaption(ticker);
            host_.OnUploadProgress(i + 1, n);
            port_.Pause(0.1);
            handled = i + 1;
        }
    } catch (...) {
        // A serial error ends the upload and with it the operation: the strip and the cursor are
        // restored, and no later question of the beacon is answered, before the error is reported.
        finish();
        if (operation_ == operation) mode_ = LinkMode::Idle;
        host_.OnUploadEnded(sent, false);
        throw;
    }
    finish();
    if (operation_ != operation) {
        host_.OnUploadEnded(sent, false);
        return;
    }
    host_.SetStatus(QStringLiteral("Beacon programmed: %1 characters").arg(sent));
    host_.OnUploadEnded(sent, handled == n);
    if (!host_.SynchronizedOption()) host_.OnListingMayFollow();
}

void BeaconEngine::ReadSlotListing() {
    if (std::optional<QByteArray> mask = SlotListing::Read(received_)) slotMask_ = *mask;
}

// Slot i of the beacon's table disagrees with the menu's tick; a flag other than "0" or "1", or a slot
// past a short table, agrees with either.
bool BeaconEngine::SlotDiffers(int i) const {
    if (i >= slotMask_.size()) return false;
    const bool ticked = host_.SlotTicked(i);
    return (ticked && slotMask_.at(i) == '0') || (!ticked && slotMask_.at(i) == '1');
}

SlotCheck BeaconEngine::CheckSlots() const {
    SlotCheck check;
    check.beaconTable = slotMask_;
    for (int i = 0; i < kSlotCount; ++i) {
        if (SlotDiffers(i)) check.differing << i;
    }
    check.verified = check.differing.isEmpty();
    return check;
}

// The command string against the beacon's message: found as one piece in what the beacon printed, or
// where the two first part. The message is what the beacon printed before the question, less its
// prompt lines and line noise.
SequenceCheck BeaconEngine::CheckSequence() const {
    SequenceCheck check;
    check.fileText = SearchText(host_.CommandText());
    check.matched = !check.fileText.isEmpty() && received_.contains(check.fileText);
    check.beaconText = StoredMessage();
    if (!check.matched) {
        const QByteArray beacon = SearchText(check.beaconText);
        qsizetype at = 0;
        while (at < beacon.size() && at < check.fileText.size() && beacon.at(at) == check.fileText.at(at))
            ++at;
        check.firstDifference = at;
    }
    return check;
}

QByteArray BeaconEngine::StoredMessage() const {
    const qsizetype question = received_.lastIndexOf("y/n\r\n");
    const qsizetype questionLine = question <= 0 ? -1
                                                 : std::max(received_.lastIndexOf('\n', question - 1),
                                                            received_.lastIndexOf('\r', question - 1));
    const QByteArray before = received_.left(questionLine + 1);
    return Commands::RemoveLines(Commands::CommandTextFrom(before), &BeaconEngine::IsPromptLine);
}

void BeaconEngine::RefuseProgram(const QString& reason) {
    EndOperation();
    host_.SetTellLook(TellLook::Alert);
    host_.SetTellCaption(QStringLiteral("Cannot keep the beacon's program: ") + reason);
}

bool BeaconEngine::SlotsMatch() const {
    for (int i = 0; i < kSlotCount; ++i) {
        if (SlotDiffers(i)) return false;
    }
    return true;
}

// The lowest-numbered slot in which the menu and the beacon's table differ, if any.
std::optional<BeaconEngine::SlotChange> BeaconEngine::FirstDifference() const {
    if (slotMask_.size() < kSlotCount) return std::nullopt;
    for (int i = 0; i < kSlotCount; ++i) {
        if (SlotDiffers(i)) return SlotChange{i, host_.SlotTicked(i)};
    }
    return std::nullopt;
}

// Answers the set-or-clear question for the slot chosen with the slot question's y (or, without one,
// the first slot that differs now); true when a slot was answered for (and the event ends).
bool BeaconEngine::SetOrClearSlot(unsigned operation) {
    const std::optional<SlotChange> change = slotChange_ ? slotChange_ : FirstDifference();
    slotChange_.reset();
    if (!change) return false;
    slotSeconds_ = 5 * change->slot;
    host_.SetTellLook(TellLook::Progress);
    host_.SetTellCaption((change->set ? QStringLiteral("Set Slot ") : QStringLiteral("Clear Slot ")) +
                         QString::number(slotSeconds_));
    host_.OnSlotStep(change->set, slotSeconds_);
    if (!PauseWithin(0.5, operation)) return true;
    Send(change->set ? 's' : 'c');
    return true;
}

// Answers the beacon's time question with the slot's offset in the two-minute cycle, ended by CR.
void BeaconEngine::SlotTimeStep(unsigned operation) {
    mode_ = LinkMode::Idle;
    if (slotSeconds_ > 115) slotSeconds_ = 0;
    const QByteArray time = QByteArray::number(slotSeconds_) + "\r";
    received_ = "Sending Slot Time " + time;
    mode_ = LinkMode::ProgramGPS;
    if (!PauseWithin(0.4, operation)) return;
    for (qsizetype i = 0; i < time.size(); ++i) {
        if (!PauseWithin(0.1, operation)) return;
        port_.WriteChar(time.at(i));
    }
    host_.AnswerSent();
}
