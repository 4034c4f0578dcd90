#include "tools/sim/BeaconLogic.h"

#include <stdexcept>
#include <utility>

namespace zbsim {

namespace {

constexpr const char* kCrLf = "\r\n";

// The beacon's texts. The tool recognises the questions by fixed fragments ("Change program?",
// "y/n" CR LF, "by Z.", "Chg msg? y/n", "GPS? y/n", "s/c", "sec?"), so the neutral lines must not
// contain any of them.
constexpr const char* kChangeProgram = "Change program? y/n\r\n";
constexpr const char* kEnterProgram = "Enter new program, end by Z.\r\n";
constexpr const char* kChangeMessage = "\r\nChg msg? y/n\r\n";
constexpr const char* kChangeSlots = "Change GPS? y/n\r\n";
constexpr const char* kSetOrClear = "Set or clear slot? s/c\r\n";
constexpr const char* kSlotTime = "Slot time in sec? ";
constexpr const char* kRunning = "Beacon running\r\n";
constexpr const char* kBadTime = "Invalid slot time, nothing changed\r\n";

constexpr int kCycleSeconds = 120;
constexpr int kSlotSeconds = 5;

}  // namespace

const char* PromptName(Prompt prompt) {
    switch (prompt) {
        case Prompt::None:
            return "none";
        case Prompt::ChangeProgram:
            return "Change program?";
        case Prompt::EnterProgram:
            return "Enter new program";
        case Prompt::ChangeMessage:
            return "Chg msg?";
        case Prompt::ChangeSlots:
            return "Change GPS?";
        case Prompt::SetOrClear:
            return "Set or clear?";
        case Prompt::SlotTime:
            return "Slot time?";
    }
    return "?";
}

const char* StateName(BeaconState state) {
    switch (state) {
        case BeaconState::Off:
            return "Off";
        case BeaconState::ChangeQuestion:
            return "ChangeQuestion";
        case BeaconState::Message:
            return "Message";
        case BeaconState::ChangeMessageQuestion:
            return "ChangeMessageQuestion";
        case BeaconState::SlotQuestion:
            return "SlotQuestion";
        case BeaconState::SetOrClearQuestion:
            return "SetOrClearQuestion";
        case BeaconState::SlotTime:
            return "SlotTime";
        case BeaconState::Beaconing:
            return "Beaconing";
    }
    return "?";
}

std::string BeaconLogic::CheckConfig(const BeaconConfig& config) {
    if (config.slotTable.size() != kSlotCount) {
        return "the slot table must have exactly 24 characters, each 0 or 1 (got " +
               std::to_string(config.slotTable.size()) + ")";
    }
    for (char c : config.slotTable) {
        if (c != '0' && c != '1') return "the slot table may hold only the characters 0 and 1";
    }
    if (config.program.size() > kMaxProgram) {
        return "the stored program is longer than " + std::to_string(kMaxProgram) + " characters";
    }
    for (char c : config.program) {
        // The program is printed on one line: a line break or other control character would split it.
        if (static_cast<unsigned char>(c) < 32 || c == 127) {
            return "the stored program may not contain control characters";
        }
    }
    return {};
}

BeaconLogic::BeaconLogic(BeaconConfig config) {
    std::string fault = CheckConfig(config);
    if (!fault.empty()) throw std::invalid_argument(fault);
    synchronized_ = config.synchronized;
    echo_ = config.echo;
    noise_ = std::move(config.powerUpNoise);
    lineEnd_ = config.bareCr ? "\r" : kCrLf;
    program_ = std::move(config.program);
    slots_ = std::move(config.slotTable);
}

void BeaconLogic::SwitchOn() {
    SwitchOff();
    if (!noise_.empty()) Print(noise_);
    Print(program_ + lineEnd_);
    AskChangeProgram();
}

void BeaconLogic::SwitchOff() {
    output_.clear();
    message_.clear();
    messageStarted_ = false;
    slotAction_ = 0;
    timeStarted_ = false;
    timeDigits_ = 0;
    timeValue_ = 0;
    state_ = BeaconState::Off;
}

std::vector<OutputPiece> BeaconLogic::TakeOutput() {
    std::vector<OutputPiece> pieces(std::make_move_iterator(output_.begin()),
                                    std::make_move_iterator(output_.end()));
    output_.clear();
    return pieces;
}

Prompt BeaconLogic::Awaiting() const {
    switch (state_) {
        case BeaconState::ChangeQuestion:
            return Prompt::ChangeProgram;
        case BeaconState::Message:
            return Prompt::EnterProgram;
        case BeaconState::ChangeMessageQuestion:
            return Prompt::ChangeMessage;
        case BeaconState::SlotQuestion:
            return Prompt::ChangeSlots;
        case BeaconState::SetOrClearQuestion:
            return Prompt::SetOrClear;
        case BeaconState::SlotTime:
            return Prompt::SlotTime;
        case BeaconState::Off:
        case BeaconState::Beaconing:
            return Prompt::None;
    }
    return Prompt::None;
}

void BeaconLogic::Print(std::string text, Prompt prompt) {
    // Plain text directly after plain text is one piece; a question always stands alone.
    if (prompt == Prompt::None && !output_.empty() && output_.back().prompt == Prompt::None) {
        output_.back().text += text;
        return;
    }
    output_.push_back(OutputPiece{std::move(text), prompt});
}

void BeaconLogic::AskChangeProgram() {
    Print(kChangeProgram, Prompt::ChangeProgram);
    state_ = BeaconState::ChangeQuestion;
}

void BeaconLogic::AskForMessage() {
    Print(kEnterProgram, Prompt::EnterProgram);
    message_.clear();
    messageStarted_ = false;
    state_ = BeaconState::Message;
}

void BeaconLogic::AfterConversation() {
    if (synchronized_) {
        PrintListingAndAsk();
    } else {
        StartBeaconing();
    }
}

void BeaconLogic::PrintListingAndAsk() {
    // One line per second value of the minute: "<seconds> sec <even> <odd>", single-digit seconds
    // written with one digit. Padded to two digits, column 8 holds the even-minute flag and column 10
    // the odd-minute flag.
    std::string listing;
    for (size_t i = 0; i < kSlotCount / 2; ++i) {
        listing += std::to_string(i * kSlotSeconds) + " sec ";
        listing += slots_[i];
        listing += ' ';
        listing += slots_[i + kSlotCount / 2];
        listing += lineEnd_;
    }
    Print(std::move(listing));
    Print(kChangeSlots, Prompt::ChangeSlots);
    state_ = BeaconState::SlotQuestion;
}

void BeaconLogic::StartBeaconing() {
    Print(kRunning);
    state_ = BeaconState::Beaconing;
}

FeedResult BeaconLogic::Feed(unsigned char byte) {
    switch (state_) {
        case BeaconState::Off:
        case BeaconState::Beaconing:
            return FeedResult::Ignored;

        case BeaconState::Message: {
            // Control characters would break the line the program is printed on; the tool never
            // sends them inside a message.
            if (byte < 32 || byte == 127) return FeedResult::Ignored;
            // The last place of the message memory is kept for the closing "Z".
            if (message_.size() + 1 >= kMaxProgram && byte != 'Z') return FeedResult::Ignored;
            message_ += static_cast<char>(byte);
            if (echo_) Print(std::string(1, static_cast<char>(byte)));
            FeedResult result = messageStarted_ ? FeedResult::Continued : FeedResult::Answer;
            messageStarted_ = true;
            if (byte == 'Z') {
                program_ = std::move(message_);
                message_.clear();
                Print(kChangeMessage, Prompt::ChangeMessage);
                state_ = BeaconState::ChangeMessageQuestion;
            }
            return result;
        }

        // The change question and the question after a new message are answered alike.
        case BeaconState::ChangeQuestion:
        case BeaconState::ChangeMessageQuestion:
            if (byte == 'y') {
                AskForMessage();
                return FeedResult::Answer;
            }
            if (byte == 'n') {
                AfterConversation();
                return FeedResult::Answer;
            }
            return FeedResult::Ignored;

        case BeaconState::SlotQuestion:
            if (byte == 'y') {
                Print(kSetOrClear, Prompt::SetOrClear);
                state_ = BeaconState::SetOrClearQuestion;
                return FeedResult::Answer;
            }
            if (byte == 'n') {
                StartBeaconing();
                return FeedResult::Answer;
            }
            return FeedResult::Ignored;

        case BeaconState::SetOrClearQuestion:
            if (byte == 's' || byte == 'c') {
                slotAction_ = static_cast<char>(byte);
                timeStarted_ = false;
                timeDigits_ = 0;
                timeValue_ = 0;
                Print(kSlotTime, Prompt::SlotTime);
                state_ = BeaconState::SlotTime;
                return FeedResult::Answer;
            }
            return FeedResult::Ignored;

        case BeaconState::SlotTime:
            return FeedSlotTime(byte);
    }
    return FeedResult::Ignored;
}

FeedResult BeaconLogic::FeedSlotTime(unsigned char byte) {
    const bool digit = byte >= '0' && byte <= '9';
    if (!digit && byte != '\r') return FeedResult::Ignored;
    FeedResult result = timeStarted_ ? FeedResult::Continued : FeedResult::Answer;
    timeStarted_ = true;
    if (digit) {
        ++timeDigits_;
        // Leading zeros are allowed; a value that has grown past the cycle stops growing and stays
        // invalid, however many digits follow.
        if (timeValue_ < kCycleSeconds) timeValue_ = timeValue_ * 10 + (byte - '0');
        return result;
    }
    // CR ends the time. The operator's line ends here, so the beacon starts a new line.
    Print(kCrLf);
    const bool valid = timeDigits_ > 0 && timeValue_ < kCycleSeconds && timeValue_ % kSlotSeconds == 0;
    if (valid) {
        slots_[static_cast<size_t>(timeValue_ / kSlotSeconds)] = slotAction_ == 's' ? '1' : '0';
    } else {
        Print(kBadTime);
    }
    PrintListingAndAsk();
    return result;
}

}  // namespace zbsim
