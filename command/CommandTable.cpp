#include "command/CommandTable.h"

#include "command/SequenceRows.h"

namespace Commands {

const char* ListingEntry(QChar letter, bool synchronized) {
    switch (letter.unicode()) {
        case 'A':
            return "A Set speed to 5 wpm";
        case 'B':
            return "B Set speed to 10 wpm";
        case 'C':
            return "C Set speed to 15 wpm";
        case 'D':
            return "D Set speed to 21 wpm";
        case 'E':
            return "E Set speed to 52 wpm";
        case 'F':
            return "F Wait 5 seconds";
        case 'H':
            return "H Set High Power";
        case 'I':
            return "I Turn off QRSS";
        case 'K':
            return "K Key transmitter";
        case 'L':
            return "L Set Low Power";
        case 'M':
            return "M Set Medium Power";
        case 'N':
            return "N Ignore 10 minute delay";
        case 'O':
            return "O Wait 1 minute";
        case 'P':
            return "P Activate PTT";
        case 'Q':
            return "Q Release PTT";
        case 'R':
            return "R Use QRSS Code Speed";
        case 'S':
            return "S Wait 1 second";
        case 'T':
            return "T Wait 0.1 seconds";
        case 'U':
            return "U Unkey transmitter";
        case 'V':
            return "V Wait 10 minutes";
        case 'W':
            return synchronized ? "W Wait for GPS Trigger" : "W Wait for External Trigger";
        case 'X':
            return "X Set Extra Low Power";
        case 'Z':
            return "Z End";
        default:
            return nullptr;
    }
}

bool IsIncompatibleWithSynchronized(QChar letter) {
    switch (letter.unicode()) {
        case 'A':
        case 'E':
        case 'F':
        case 'O':
        case 'R':
        case 'I':
        case 'V':
        case 'N':
            return true;
        default:
            return false;
    }
}

QStringList Decode(const QStringList& lines, bool synchronized) {
    SequenceRows rows(synchronized);
    for (const QString& line : lines) {
        for (QChar c : line) {
            if (!rows.Add(c.unicode())) return rows.Texts();
        }
    }
    return rows.Texts();
}

Decoded DecodeText(const QByteArray& text, bool synchronized, int32_t maxChar) {
    const SequenceRows rows = DecodeRows(text, synchronized);
    Decoded result;
    result.rows = rows.Texts();
    result.count = text.size();
    result.tooLong = result.count > maxChar;
    result.incompatible = synchronized && rows.AnyIncompatible();
    return result;
}

}  // namespace Commands
