#include "tools/sim/TranscriptPrinter.h"

#include <cstdio>
#include <utility>

namespace zbsim {

TranscriptPrinter::TranscriptPrinter(std::function<void(const std::string&)> writeLine)
    : writeLine_(std::move(writeLine)) {}

std::string TranscriptPrinter::FormatLine(double time, Direction direction, const std::string& text) {
    char head[40];
    std::snprintf(head, sizeof head, "[%10.3f] %-6s ", time, DirectionName(direction));
    return head + text + "\n";
}

void TranscriptPrinter::Add(const TranscriptEntry& entry) {
    std::lock_guard lock(mutex_);
    if (entry.direction == Direction::Note) {
        FlushLocked();
        writeLine_(FormatLine(entry.time, Direction::Note, entry.bytes));
        return;
    }
    if (pending_ && direction_ != entry.direction) FlushLocked();
    if (!pending_) {
        pending_ = true;
        direction_ = entry.direction;
        startTime_ = entry.time;
    }
    lastNs_ = entry.monotonicNs;
    size_t from = 0;
    for (;;) {
        const size_t lf = entry.bytes.find('\n', from);
        if (lf == std::string::npos) {
            text_.append(entry.bytes, from, std::string::npos);
            break;
        }
        text_.append(entry.bytes, from, lf + 1 - from);
        FlushLocked();
        from = lf + 1;
        if (from == entry.bytes.size()) break;
        pending_ = true;
        direction_ = entry.direction;
        startTime_ = entry.time;
    }
}

void TranscriptPrinter::FlushIfQuiet(int64_t nowNs) {
    std::lock_guard lock(mutex_);
    if (pending_ && nowNs - lastNs_ >= kQuietNs) FlushLocked();
}

void TranscriptPrinter::Flush() {
    std::lock_guard lock(mutex_);
    FlushLocked();
}

int64_t TranscriptPrinter::DueNs() const {
    std::lock_guard lock(mutex_);
    return pending_ ? lastNs_ + kQuietNs : -1;
}

void TranscriptPrinter::FlushLocked() {
    if (!pending_) return;
    writeLine_(FormatLine(startTime_, direction_, Readable(text_)));
    pending_ = false;
    text_.clear();
}

namespace {

std::string Milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000.0);
    return text;
}

std::string StatsText(const std::vector<double>& values) {
    const DelayStats stats = Summarize(values);
    return std::to_string(stats.count) + (stats.count == 1 ? " answer" : " answers") + ", median " +
           Milliseconds(stats.median) + ", min " + Milliseconds(stats.min) + ", max " +
           Milliseconds(stats.max);
}

}  // namespace

std::string FormatSummary(const std::string& program, const std::string& slots,
                          const std::vector<AnswerDelay>& delays) {
    std::string text = "Stored program: " + Readable(program) + "\n";
    text += "Slot table:     " + slots + "\n";
    if (delays.empty()) {
        text += "Answer delays:  none (no question was answered)\n";
        return text;
    }
    std::vector<double> all;
    for (const AnswerDelay& d : delays)
        all.push_back(d.seconds);
    text += "Answer delays:  " + StatsText(all) + "\n";
    const Prompt order[] = {Prompt::ChangeProgram, Prompt::EnterProgram, Prompt::ChangeMessage,
                            Prompt::ChangeSlots,   Prompt::SetOrClear,   Prompt::SlotTime};
    for (Prompt prompt : order) {
        std::vector<double> some;
        for (const AnswerDelay& d : delays) {
            if (d.prompt == prompt) some.push_back(d.seconds);
        }
        if (some.empty()) continue;
        char label[32];
        std::snprintf(label, sizeof label, "  %-18s", PromptName(prompt));
        text += label + StatsText(some) + "\n";
    }
    return text;
}

}  // namespace zbsim
