// The command decoder over any text, in both modes. The listing must account for the text exactly:
// mapping every command entry back to its letter and joining the entries gives the text up to where
// decoding stops, with the line breaks left out; how the text is broken into lines changes nothing.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <string>

#include "FuzzSupport.h"
#include "command/CommandTable.h"
#include "platform/TextFile.h"

namespace {

bool IsCommandLetter(QChar c) {
    return Commands::ListingEntry(c, false) != nullptr;
}

// Checks one listing against the text it came from (`flat`: the memo's text without line breaks);
// returns how much of the text it accounts for, which is where decoding stopped.
qsizetype CheckListing(const QStringList& listing, const QString& flat, bool synchronized) {
    QString rebuilt;
    bool previousWasMessage = false;
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const QString& entry = listing[i];
        FUZZ_CHECK(!entry.isEmpty());
        const QChar first = entry.at(0);
        if (const char* text = Commands::ListingEntry(first, synchronized);
            text != nullptr && entry == QLatin1String(text)) {
            // "Z End" is the last entry when it is there.
            FUZZ_CHECK(first != QLatin1Char('Z') || i == listing.size() - 1);
            rebuilt += first;
            previousWasMessage = false;
            continue;
        }
        // A message entry: a whole run of message characters, never two runs side by side.
        FUZZ_CHECK(!previousWasMessage);
        for (QChar c : entry) {
            FUZZ_CHECK(!IsCommandLetter(c) && c != QLatin1Char('*'));
            FUZZ_CHECK(c != QLatin1Char('\r') && c != QLatin1Char('\n'));
        }
        rebuilt += entry;
        previousWasMessage = true;
    }
    FUZZ_CHECK(flat.startsWith(rebuilt));
    const qsizetype used = rebuilt.size();
    if (used < flat.size()) {
        // Decoding stopped early: after a "Z", or else at a "*".
        const bool endedByZ = !listing.isEmpty() && listing.last() == QLatin1String("Z End");
        FUZZ_CHECK(endedByZ || flat.at(used) == QLatin1Char('*'));
    }
    return used;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The memo's text as a command file loads it: every line break CR LF.
    const std::string text = NormalizeLineBreaks(std::string(fuzz::AsText(data, size)));
    const QString memo = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const QStringList lines = memo.split(QLatin1String("\r\n"));
    const QString flat = lines.join(QString());
    // The status line's count: every line break counts two characters.
    FUZZ_CHECK(memo.size() == flat.size() + 2 * (lines.size() - 1));

    // Word wrap breaks lines anywhere; the decode must not notice. The first byte picks the width.
    const qsizetype width = size > 0 ? data[0] % 7 + 1 : 1;
    QStringList wrapped;
    for (qsizetype at = 0; at < flat.size(); at += width)
        wrapped << flat.mid(at, width);

    // Any limit, negative ones included (the operator may type one).
    const int32_t maxChar = size > 1 ? static_cast<int8_t>(data[1]) : 127;
    QStringList listings[2];
    for (const bool synchronized : {false, true}) {
        const Commands::Decoded decoded =
            Commands::DecodeText(QByteArray::fromStdString(text), synchronized, maxChar);
        const QStringList& listing = decoded.rows;
        const qsizetype used = CheckListing(listing, flat, synchronized);
        FUZZ_CHECK(Commands::Decode(lines, synchronized) == listing);
        FUZZ_CHECK(Commands::Decode(QStringList{flat}, synchronized) == listing);
        FUZZ_CHECK(Commands::Decode(wrapped, synchronized) == listing);
        // The count is the whole text's, decoded or not; the alarm compares it with the limit.
        FUZZ_CHECK(decoded.count == memo.size());
        FUZZ_CHECK(decoded.tooLong == (decoded.count > maxChar));
        // Only the decoded part of the text counts for the synchronized beacon.
        bool anyIncompatible = false;
        for (QChar c : flat.left(used))
            anyIncompatible = anyIncompatible || QStringLiteral("AEFINORV").contains(c);
        FUZZ_CHECK(decoded.incompatible == (synchronized && anyIncompatible));
        listings[synchronized] = listing;
    }
    // The modes differ only in the text of W.
    FUZZ_CHECK(listings[0].size() == listings[1].size());
    for (qsizetype i = 0; i < listings[0].size(); ++i) {
        if (listings[0][i] != listings[1][i]) {
            FUZZ_CHECK(listings[0][i] == QLatin1String("W Wait for External Trigger"));
            FUZZ_CHECK(listings[1][i] == QLatin1String("W Wait for GPS Trigger"));
        }
    }
    return 0;
}
