#include "link/SlotListing.h"

namespace SlotListing {

int Seconds(const QByteArray& firstTwo) {
    qsizetype i = 0;
    while (i < firstTwo.size() && (firstTwo.at(i) == ' ' || firstTwo.at(i) == '\t'))
        ++i;
    bool negative = false;
    if (i < firstTwo.size() && (firstTwo.at(i) == '+' || firstTwo.at(i) == '-')) {
        negative = firstTwo.at(i) == '-';
        ++i;
    }
    if (i >= firstTwo.size()) return 0;
    int value = 0;
    for (; i < firstTwo.size(); ++i) {
        const char c = firstTwo.at(i);
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

std::optional<QByteArray> Read(const QByteArray& received) {
    if (!received.contains("sec")) return std::nullopt;
    QByteArray mask(kSlotCount, '0');
    // The text ends at its first NUL; a line ends at CR, at LF or at CR LF.
    const qsizetype nul = received.indexOf('\0');
    const QByteArray text = nul < 0 ? received : received.left(nul);
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = start;
        while (end < text.size() && text.at(end) != '\r' && text.at(end) != '\n')
            ++end;
        QByteArray line = text.mid(start, end - start);
        if (end < text.size() && text.at(end) == '\r' && end + 1 < text.size() && text.at(end + 1) == '\n')
            ++end;
        start = end + 1;
        if (!line.contains("sec")) continue;
        if (line.size() >= 2 && line.at(1) == ' ') line.prepend('0');  // one-digit seconds
        // A line too short to hold both flags, or with seconds outside the minute, would address
        // positions outside the 24 slots: it is skipped.
        if (line.size() < 10) continue;
        const int seconds = Seconds(line.left(2));
        if (seconds < 0 || seconds > 59) continue;
        const int slot = seconds / 5;
        mask[slot] = line.at(7);
        mask[slot + 12] = line.at(9);
    }
    return mask;
}

}  // namespace SlotListing
