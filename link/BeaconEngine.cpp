#include "link/BeaconEngine.h"

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
    if (!host_.PortChosen()) {
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
    return true;
}

bool BeaconEngine::IsPromptLine(const QByteArray& line) {
    return line.isEmpty() || line.contains("Change program?") || line.contains("Enter new program") ||
           line.contains("Chg msg? y/n");
}

// Pauses before an answer; false when an operation was started meanwhile, which then owns the dialogue:
// the interrupted rule sends nothing more and leaves the state alone.
bool BeaconEngine::PauseWithin(double units, unsigned operation) {
    host_.Pause(units);
    return operation_ == operation;
}

void BeaconEngine::Send(char c) {
    host_.WriteChar(c);
    host_.AnswerSent();
}

void BeaconEngine::DataArrived(const QByteArray& text) {
    const unsigned operation = operation_;
    received_ += text;
    // Prompts are answered in the event that completes them, so only the newest text is still needed.
    if (received_.size() > kMaxReceivedText) received_.remove(0, received_.size() - kKeptReceivedText);
    host_.ReceivedTextGrew();

    if (mode_ == LinkMode::Read) {
        host_.SetCommandText(received_);
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
        if (SlotSearch(operation)) return;
    }
    // A question ending in "y/n" CR LF; each step sees the state the step before left.
    if (received_.contains("y/n\r\n")) {
        if (received_.contains("55 sec") && received_.contains("GPS? y/n")) {
            if (!host_.SynchronizedOption()) host_.TickSynchronizedOption();
            ReadSlotListing();
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
            }
            if (mode_ == LinkMode::VerifyGPS) {
                received_.clear();
                mode_ = LinkMode::Idle;
                host_.SetTellCaption(host_.TellCaption() + (SlotsMatch()
                                                                ? QStringLiteral(" - GPS Verified")
                                                                : QStringLiteral(" - GPS Slot Error")));
                if (!PauseWithin(1, operation)) return;
                Send('n');
            }
        }
        if (mode_ == LinkMode::Read) {
            mode_ = LinkMode::Idle;
            received_ = "Command: " + ModeName() + "\r";
            if (!PauseWithin(1, operation)) return;
            Send('n');
            if (host_.SynchronizedOption()) mode_ = LinkMode::ReadGPS;
            host_.SetTellCaption(QString());
            host_.SetStatus(QString());
            host_.RebuildListing();
            received_ = "Command: " + ModeName() + "\r";
        }
        if (mode_ == LinkMode::Program) {
            // The question is replaced before the pause, like every other answered one: text that
            // arrives during the pause is handled inside it and must not find the question again (a
            // second y would go into the new message). That text is kept for the next rules.
            received_ = "Command: " + ModeName() + "\r";
            if (!PauseWithin(1, operation)) return;
            Send('y');
            host_.SetTellLook(TellLook::Progress);
            host_.SetTellCaption(QStringLiteral("Programming Beacon"));
            host_.SetStatus(QStringLiteral("Programming Beacon"));
        }
        if (mode_ == LinkMode::ProgramGPS && !received_.contains("GPS? y/n")) {
            // Any other question after the message means the beacon was switched on again after a
            // normal beacon was programmed: the operation is over and the question is left to the
            // operator's next operation.
            mode_ = LinkMode::Idle;
        }
        if (mode_ == LinkMode::ProgramGPS) {
            mode_ = LinkMode::ProgramGPS2;
            received_ = ModeName() + "\r";
            if (SlotsMatch()) {
                mode_ = LinkMode::Idle;
                received_ = "GPS Verified";
                if (!PauseWithin(1, operation)) return;
                Send('n');
            } else {
                if (!PauseWithin(1, operation)) return;
                Send('y');
            }
        }
        if (mode_ == LinkMode::Verify) {
            const QByteArray search = SearchText(host_.CommandText());
            if (!search.isEmpty() && received_.contains(search)) {
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
        }
    }
    // The beacon asks for the new message; the countdown starts the upload a second later.
    if ((received_.contains("by Z.") || received_.contains("then Z")) && mode_ == LinkMode::Program) {
        host_.StartCountdown();
        received_ = "SendX\r";
    }
}

void BeaconEngine::CountdownExpired() {
    // Another operation was started while the countdown ran: nothing to send.
    if (mode_ != LinkMode::Program) return;
    mode_ = LinkMode::Idle;
    received_.clear();
    host_.SetBusy(true);
    host_.SetTellLook(TellLook::Progress);
    host_.SetTellCaption(QString());
    // From here on the beacon's questions after the message are answered by the dialogue.
    mode_ = LinkMode::ProgramGPS;
    const qsizetype n = host_.CommandText().size();
    auto finish = [this] {
        host_.SetBusy(false);
        host_.SetTellBackground(TellBackground::White);
        host_.SetTellCaption(QString());
        host_.SetStatus(QString());
    };
    try {
        for (qsizetype i = 0; i < n; ++i) {
            // The command string is read afresh for every character: edits made during the pauses count.
            const QByteArray text = host_.CommandText();
            if (i >= text.size()) break;  // it became shorter meanwhile
            const char c = text.at(i);
            if (static_cast<unsigned char>(c) >= 32) host_.WriteChar(c);
            QString ticker = host_.TellCaption();
            if (ticker.size() >= kTickerLength) ticker.remove(0, 1);
            ticker += QChar(static_cast<unsigned char>(c));
            host_.SetTellCaption(ticker);
            host_.Pause(0.1);
        }
    } catch (...) {
        // A serial error ends the upload and with it the operation: the strip and the cursor are
        // restored, and no later question of the beacon is answered, before the error is reported.
        finish();
        mode_ = LinkMode::Idle;
        throw;
    }
    finish();
}

void BeaconEngine::ReadSlotListing() {
    if (std::optional<QByteArray> mask = SlotListing::Read(received_)) slotMask_ = *mask;
}

bool BeaconEngine::SlotsMatch() const {
    for (int i = 0; i < kSlotCount && i < slotMask_.size(); ++i) {
        const bool ticked = host_.SlotTicked(i);
        if (ticked && slotMask_.at(i) == '0') return false;
        if (!ticked && slotMask_.at(i) == '1') return false;
    }
    return true;
}

// Sets or clears the lowest-numbered slot in which the menu and the beacon's table differ; true when
// one was found (and the event ends).
bool BeaconEngine::SlotSearch(unsigned operation) {
    if (slotMask_.size() < kSlotCount) return false;
    for (int i = 0; i < kSlotCount; ++i) {
        const bool ticked = host_.SlotTicked(i);
        const char beacon = slotMask_.at(i);
        if ((ticked && beacon == '0') || (!ticked && beacon == '1')) {
            slotSeconds_ = 5 * i;
            host_.SetTellLook(TellLook::Progress);
            host_.SetTellCaption((ticked ? QStringLiteral("Set Slot ") : QStringLiteral("Clear Slot ")) +
                                 QString::number(slotSeconds_));
            if (!PauseWithin(0.5, operation)) return true;
            Send(ticked ? 's' : 'c');
            return true;
        }
    }
    return false;
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
        host_.WriteChar(time.at(i));
    }
    host_.AnswerSent();
}
