#pragma once
// Turns transcript entries into readable lines for a terminal. The beacon writes a byte or a few at
// a time; the printer joins consecutive bytes of one direction into a line and starts a new line at
// each LF, at each change of direction and when the line has been quiet for a while.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tools/sim/Transcript.h"

namespace zbsim {

class TranscriptPrinter {
public:
    // A partial line is printed once it has been quiet this long.
    static constexpr int64_t kQuietNs = 250'000'000;

    explicit TranscriptPrinter(std::function<void(const std::string&)> writeLine);

    // Thread-safe, like every method here.
    void Add(const TranscriptEntry& entry);
    // Prints a partial line that has been quiet for kQuietNs by nowNs (steady clock).
    void FlushIfQuiet(int64_t nowNs);
    void Flush();
    // The steady-clock time at which a partial line becomes due, or -1 when none is waiting.
    int64_t DueNs() const;

    static std::string FormatLine(double time, Direction direction, const std::string& text);

private:
    void FlushLocked();

    std::function<void(const std::string&)> writeLine_;
    mutable std::mutex mutex_;
    bool pending_ = false;
    Direction direction_ = Direction::ToTool;
    double startTime_ = 0;
    int64_t lastNs_ = 0;
    std::string text_;
};

// The closing report: stored program, slot table and the answer delays, overall and per question.
std::string FormatSummary(const std::string& program, const std::string& slots,
                          const std::vector<AnswerDelay>& delays);

}  // namespace zbsim
