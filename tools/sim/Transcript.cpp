#include "tools/sim/Transcript.h"

#include <algorithm>
#include <cstdio>

namespace zbsim {

const char* DirectionName(Direction direction) {
    switch (direction) {
        case Direction::ToTool:
            return "beacon";
        case Direction::FromTool:
            return "tool";
        case Direction::Note:
            return "note";
    }
    return "?";
}

DelayStats Summarize(std::vector<double> values) {
    DelayStats stats;
    stats.count = values.size();
    if (values.empty()) return stats;
    std::sort(values.begin(), values.end());
    stats.min = values.front();
    stats.max = values.back();
    const size_t mid = values.size() / 2;
    stats.median = values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
    return stats;
}

std::string Readable(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\r':
                text += "<CR>";
                continue;
            case '\n':
                text += "<LF>";
                continue;
            case '\t':
                text += "<TAB>";
                continue;
            case 0:
                text += "<NUL>";
                continue;
            case 27:
                text += "<ESC>";
                continue;
            default:
                break;
        }
        if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<0x%02X>", c);
            text += hex;
        } else {
            text += ch;
        }
    }
    return text;
}

}  // namespace zbsim
