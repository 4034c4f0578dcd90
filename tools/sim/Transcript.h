#pragma once
// The simulator's record of the conversation and the small helpers that present it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sim/BeaconLogic.h"

namespace zbsim {

enum class Direction {
    ToTool,    // written by the beacon
    FromTool,  // received from the tool
    Note,      // an event of the simulator itself (switch-on, ignored byte, adapter pulled, ...)
};

const char* DirectionName(Direction direction);

struct TranscriptEntry {
    double time = 0;          // seconds since the simulator was created (monotonic clock)
    int64_t monotonicNs = 0;  // the same instant on the steady clock, for comparison with other timings
    Direction direction = Direction::Note;
    std::string bytes;  // the bytes written or received; the note's text for a Note
};

// The delay from the last byte of a question to the first byte of its answer.
struct AnswerDelay {
    Prompt prompt = Prompt::None;
    double seconds = 0;
};

struct DelayStats {
    size_t count = 0;
    double median = 0;  // the mean of the two middle values for an even count
    double min = 0;
    double max = 0;
};

DelayStats Summarize(std::vector<double> values);

// Bytes as printable text: control characters and bytes of 127 and above in angle brackets,
// e.g. "<CR><LF>", "<TAB>", "<0x1B>", "<0xE9>".
std::string Readable(std::string_view bytes);

}  // namespace zbsim
