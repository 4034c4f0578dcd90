#include "command/CommandTable.h"

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
    QStringList listing;
    // Entry count right after the last message character was placed; starts at a count the listing cannot
    // have, so the first message character always opens an entry of its own, however long the text.
    qsizetype remembered = -1;
    for (const QString& line : lines) {
        for (QChar c : line) {
            if (c == QLatin1Char('Z')) {
                listing << QStringLiteral("Z End");
                return listing;
            }
            if (c == QLatin1Char('*')) return listing;
            if (const char* entry = ListingEntry(c, synchronized)) {
                listing << QString::fromLatin1(entry);
                continue;
            }
            if (listing.size() == remembered) {
                listing.last() += c;
            } else {
                listing << QString(c);
            }
            remembered = listing.size();
        }
    }
    return listing;
}

bool HasCapitalCallsign(const QByteArray& text) {
    QByteArray sent;
    sent.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n') sent += c;
    }
    auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (qsizetype i = 0; i + 2 < sent.size(); ++i) {
        if (!capital(sent[i]) || !digit(sent[i + 1])) continue;
        qsizetype j = i + 2;
        if (j < sent.size() && digit(sent[j])) ++j;
        if (j < sent.size() && capital(sent[j])) return true;
    }
    return false;
}

Decoded DecodeText(const QByteArray& text, bool synchronized, int32_t maxChar) {
    Decoded result;
    result.capitalCallsign = HasCapitalCallsign(text);
    result.rows = Decode(QString::fromLatin1(text).split(QLatin1String("\r\n")), synchronized);
    result.count = text.size();
    result.tooLong = result.count > maxChar;
    if (synchronized) {
        for (const QString& row : result.rows) {
            if (!row.isEmpty() && IsIncompatibleWithSynchronized(row.at(0))) result.incompatible = true;
        }
    }
    return result;
}

}  // namespace Commands
