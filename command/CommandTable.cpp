#include "command/CommandTable.h"

#include "command/SequenceRows.h"

namespace Commands {

namespace {

// In the Insert menu's order. Columns: letter; listing row; the row for a synchronized beacon where it
// differs; Insert item's name and caption; its caption in normal and in synchronized mode where the mode
// changes it; Insert menu group; whether a synchronized beacon carries it.
const Command kVocabulary[] = {
    {'A', "A Set speed to 5 wpm", nullptr, "A5wpm1", "A  5 wpm", nullptr, nullptr, 0, false},
    {'B', "B Set speed to 10 wpm", nullptr, "B10wpm1", "B  10 wpm", nullptr, nullptr, 0, true},
    {'C', "C Set speed to 15 wpm", nullptr, "C15wpm1", "C  15 wpm", nullptr, nullptr, 0, true},
    {'D', "D Set speed to 21 wpm", nullptr, "D21wpm1", "D  21 wpm", "D 21 wpm", "D 20 wpm", 0, true},
    {'E', "E Set speed to 52 wpm", nullptr, "E52wpm1", "E  52 wpm", nullptr, nullptr, 0, false},
    {'P', "P Activate PTT", nullptr, "PActivatePTT1", "P  Activate PTT", nullptr, nullptr, 1, true},
    {'Q', "Q Release PTT", nullptr, "QReleasePTT1", "Q  Release PTT", nullptr, nullptr, 1, true},
    {'K', "K Key transmitter", nullptr, "KKeyTransmitter1", "K  Key Transmitter", nullptr, nullptr, 2, true},
    {'U', "U Unkey transmitter", nullptr, "UUnkeyTransmitter1", "U  Unkey Transmitter", nullptr, nullptr, 2,
     true},
    {'T', "T Wait 0.1 seconds", nullptr, "T01secondwait1", "T  0.1 second wait", nullptr, nullptr, 3, true},
    {'S', "S Wait 1 second", nullptr, "S1secondwait1", "S  1 second wait", nullptr, nullptr, 3, true},
    {'F', "F Wait 5 seconds", nullptr, "F5secondwait1", "F  5 second wait", nullptr, nullptr, 3, false},
    {'O', "O Wait 1 minute", nullptr, "O1minutewait1", "O  1 minute wait", nullptr, nullptr, 3, false},
    {'V', "V Wait 10 minutes", nullptr, "Vwait10minutes1", "V  10 minute wait", nullptr, nullptr, 3, false},
    {'N', "N Ignore 10 minute delay", nullptr, "NCancelLongDelay1", "N  Cancel 10 minute wait", nullptr,
     nullptr, 3, false},
    {'W', "W Wait for External Trigger", "W Wait for GPS Trigger", "WWaitforexternaltrigger1",
     "W  Wait for external trigger", "W Wait for external trigger", "W Wait for GPS trigger", 3, true},
    {'R', "R Use QRSS Code Speed", nullptr, "RQRSSMode1", "R  QRSS Mode", nullptr, nullptr, 4, false},
    {'I', "I Turn off QRSS", nullptr, "IStopQRSS1", "I  Stop QRSS", nullptr, nullptr, 4, false},
    {'X', "X Set Extra Low Power", nullptr, "XExtraLowPower1", "X  Extra Low Power", nullptr, nullptr, 5,
     true},
    {'L', "L Set Low Power", nullptr, "LLowPower1", "L  Low Power", nullptr, nullptr, 5, true},
    {'M', "M Set Medium Power", nullptr, "MMediumPower1", "M  Medium Power", nullptr, nullptr, 5, true},
    {'H', "H Set High Power", nullptr, "HHighPower1", "H  High Power", nullptr, nullptr, 5, true},
    {'Z', "Z End", nullptr, "ZEndofMessage1", "Z  End of Message", nullptr, nullptr, 6, true},
};

}  // namespace

std::span<const Command> Vocabulary() {
    return kVocabulary;
}

const Command* Find(QChar letter) {
    for (const Command& command : kVocabulary) {
        if (letter == QLatin1Char(command.letter)) return &command;
    }
    return nullptr;
}

const char* ListingEntry(QChar letter, bool synchronized) {
    const Command* command = Find(letter);
    if (command == nullptr) return nullptr;
    return synchronized && command->syncListing ? command->syncListing : command->listing;
}

bool IsIncompatibleWithSynchronized(QChar letter) {
    const Command* command = Find(letter);
    return command != nullptr && !command->synchronizedBeacon;
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
    const SequenceRows rows = DecodeRows(text, synchronized);
    Decoded result;
    result.capitalCallsign = HasCapitalCallsign(text);
    result.rows = rows.Texts();
    result.count = text.size();
    result.tooLong = result.count > maxChar;
    result.incompatible = synchronized && rows.AnyIncompatible();
    return result;
}

}  // namespace Commands
