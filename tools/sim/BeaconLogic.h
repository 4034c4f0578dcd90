#pragma once
// The beacon's side of the serial conversation as a pure state machine: bytes from the tool go in,
// the beacon's printed text comes out as a queue of pieces. No I/O, no threads, no clocks.
//
// Conversation after switch-on:
//   stored program CR LF, "Change program? y/n" CR LF
//     n  -> slot listing + "Change GPS? y/n" (synchronized beacon) or beaconing
//     y  -> "Enter new program, end by Z." CR LF, then every byte up to and including the first "Z";
//           then CR LF "Chg msg? y/n" CR LF: y asks for the message again, n goes on as above
//   "Change GPS? y/n": n -> beaconing; y -> "Set or clear slot? s/c"
//   s or c -> "Slot time in sec? ", digits up to CR give the slot's offset in the two-minute cycle
//   (5 x slot, 0..115); the slot is set or cleared, then the listing and the slot question come again.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace zbsim {

// The questions the beacon asks; every question waits for an answer from the tool.
enum class Prompt {
    None,           // plain text, not a question
    ChangeProgram,  // "Change program? y/n"
    EnterProgram,   // "Enter new program, end by Z." (answered by the new message)
    ChangeMessage,  // "Chg msg? y/n"
    ChangeSlots,    // "Change GPS? y/n" after the slot listing
    SetOrClear,     // "Set or clear slot? s/c"
    SlotTime,       // "Slot time in sec? " (answered by digits and CR)
};

const char* PromptName(Prompt prompt);

enum class BeaconState {
    Off,                    // not switched on yet (or the adapter was replugged): everything is ignored
    ChangeQuestion,         // waiting for y/n after "Change program?"
    Message,                // storing the new message up to "Z"
    ChangeMessageQuestion,  // waiting for y/n after "Chg msg?"
    SlotQuestion,           // waiting for y/n after "Change GPS?"
    SetOrClearQuestion,     // waiting for s/c
    SlotTime,               // reading digits up to CR
    Beaconing,              // the conversation is over; everything is ignored
};

const char* StateName(BeaconState state);

// One piece of printed text. A question is a piece of its own, so that whoever sends the text knows
// when the question's last byte has gone out.
struct OutputPiece {
    std::string text;
    Prompt prompt = Prompt::None;

    bool operator==(const OutputPiece&) const = default;
};

// What became of one received byte.
enum class FeedResult {
    Ignored,    // not expected in the current state (or beyond the message capacity)
    Answer,     // the first byte of an answer to the question asked last
    Continued,  // a further byte of a multi-byte answer (message bytes, slot-time digits and CR)
};

struct BeaconConfig {
    bool synchronized = false;
    std::string program = "PSDvvvSQSZ";
    std::string slotTable = "100000000000100000000000";
    bool echo = false;  // echo the bytes of a new message as they are stored
    // Bytes put on the line when the beacon is switched on, before its stored program, as adapters and
    // beacons do on power-up (NUL, 0xFF).
    std::string powerUpNoise;
    // The stored program's line and the listing lines end with a bare CR; the questions keep CR LF.
    bool bareCr = false;
};

class BeaconLogic {
public:
    // Longest message the beacon stores; further bytes before the closing "Z" are dropped.
    static constexpr size_t kMaxProgram = 4096;
    static constexpr size_t kSlotCount = 24;

    // Empty when the configuration is usable, else a sentence saying what is wrong.
    static std::string CheckConfig(const BeaconConfig& config);

    // Throws std::invalid_argument when CheckConfig finds a fault.
    explicit BeaconLogic(BeaconConfig config);

    // Power cycle: forgets any pending output and half-received answer and starts at the stored program.
    // A message that was not completed by "Z" is not stored.
    void SwitchOn();
    // Back to Off: pending output and half-received answers are dropped.
    void SwitchOff();

    FeedResult Feed(unsigned char byte);

    bool HasOutput() const { return !output_.empty(); }
    // Hands over and clears the printed text queued since the last call.
    std::vector<OutputPiece> TakeOutput();

    BeaconState State() const { return state_; }
    // The question the beacon is waiting on (None while Off or beaconing).
    Prompt Awaiting() const;
    const std::string& StoredProgram() const { return program_; }
    const std::string& Slots() const { return slots_; }
    bool Synchronized() const { return synchronized_; }

private:
    void Print(std::string text, Prompt prompt = Prompt::None);
    void AskChangeProgram();
    void AskForMessage();
    void AfterConversation();  // listing and slot question (synchronized) or beaconing
    void PrintListingAndAsk();
    void StartBeaconing();
    FeedResult FeedSlotTime(unsigned char byte);

    bool synchronized_ = false;
    bool echo_ = false;
    std::string noise_;
    const char* lineEnd_ = "\r\n";
    std::string program_;
    std::string slots_;
    BeaconState state_ = BeaconState::Off;
    std::deque<OutputPiece> output_;
    std::string message_;  // the message being received
    bool messageStarted_ = false;
    char slotAction_ = 0;       // 's' or 'c' while the time is read
    bool timeStarted_ = false;  // a byte of the time answer was accepted
    int timeDigits_ = 0;
    int timeValue_ = 0;
};

}  // namespace zbsim
