// The command decoder: listing rows, the alphabet, the callsign hint.
#include <gtest/gtest.h>

#include "command/CommandTable.h"
#include "support/QtPrinters.h"

namespace {

QStringList Decode(const QString& text, bool sync = false) {
    return Commands::Decode(text.split(QLatin1Char('\n')), sync);
}

}  // namespace

TEST(Decoder, ExampleGivesEightEntriesOnOneOrTwoLines) {
    const QStringList expected = {"P Activate PTT",  "S Wait 1 second", "D Set speed to 21 wpm", "vvv",
                                  "S Wait 1 second", "Q Release PTT",   "S Wait 1 second",       "Z End"};
    EXPECT_EQ(Decode("PSDvvvSQSZ"), expected);
    EXPECT_EQ(Decode("PSDvv\nvSQSZ"), expected);
}

TEST(Decoder, ZAndStarStopDecodingForGood) {
    EXPECT_EQ(Decode("Zabc\nPQ"), QStringList{"Z End"});
    EXPECT_EQ(Decode("K hello Z world\nP"), (QStringList{"K Key transmitter", " hello ", "Z End"}));
    EXPECT_TRUE(Decode("*PSD\nK").isEmpty());
    EXPECT_EQ(Decode("ab*\nPK"), QStringList{"ab"});
    EXPECT_TRUE(Decode("").isEmpty());
    EXPECT_TRUE(Decode("\n\n").isEmpty());
}

TEST(Decoder, MessageRunsSpanLineBreaksAndEmptyLinesButNotCommands) {
    EXPECT_EQ(Decode("ab\ncd"), QStringList{"abcd"});
    EXPECT_EQ(Decode("ab\n\n\ncd"), QStringList{"abcd"});
    EXPECT_EQ(Decode("abKcd"), (QStringList{"ab", "K Key transmitter", "cd"}));
    EXPECT_EQ(Decode("ab\nK\ncd"), (QStringList{"ab", "K Key transmitter", "cd"}));
    // A message run at the very start opens an entry even though the listing is empty.
    EXPECT_EQ(Decode("x"), QStringList{"x"});
}

TEST(Decoder, OnlyUpperCaseTableLettersAreCommands) {
    EXPECT_EQ(Decode("s"), QStringList{"s"});
    EXPECT_EQ(Decode("GJY"), QStringList{"GJY"});
    EXPECT_EQ(Decode("GaS"), (QStringList{"Ga", "S Wait 1 second"}));
    EXPECT_EQ(Decode(QString::fromLatin1("\xe9\xc9!9")), QStringList{QString::fromLatin1("\xe9\xc9!9")});
    // Every letter of the alphabet that is a command, in both modes.
    const QString letters = "ABCDEFHIKLMNOPQRSTUVWX";
    for (bool sync : {false, true}) {
        const QStringList listing = Decode(letters, sync);
        ASSERT_EQ(listing.size(), letters.size());
        for (int i = 0; i < letters.size(); ++i)
            EXPECT_EQ(listing[i].at(0), letters.at(i));
    }
}

TEST(Decoder, EveryCommandDecodesToItsListingText) {
    const std::pair<char, const char*> table[] = {
        {'A', "A Set speed to 5 wpm"},
        {'B', "B Set speed to 10 wpm"},
        {'C', "C Set speed to 15 wpm"},
        {'D', "D Set speed to 21 wpm"},
        {'E', "E Set speed to 52 wpm"},
        {'F', "F Wait 5 seconds"},
        {'H', "H Set High Power"},
        {'I', "I Turn off QRSS"},
        {'K', "K Key transmitter"},
        {'L', "L Set Low Power"},
        {'M', "M Set Medium Power"},
        {'N', "N Ignore 10 minute delay"},
        {'O', "O Wait 1 minute"},
        {'P', "P Activate PTT"},
        {'Q', "Q Release PTT"},
        {'R', "R Use QRSS Code Speed"},
        {'S', "S Wait 1 second"},
        {'T', "T Wait 0.1 seconds"},
        {'U', "U Unkey transmitter"},
        {'V', "V Wait 10 minutes"},
        {'W', "W Wait for External Trigger"},
        {'X', "X Set Extra Low Power"},
        {'Z', "Z End"},
    };
    for (const auto& [letter, text] : table) {
        EXPECT_EQ(Decode(QString(QLatin1Char(letter))), QStringList{QString::fromLatin1(text)}) << letter;
        if (letter != 'W') {
            EXPECT_EQ(Decode(QString(QLatin1Char(letter)), true), QStringList{QString::fromLatin1(text)})
                << letter;
        }
    }
}

TEST(Decoder, AMessageCharacterAfterAnyNumberOfCommandsOpensItsOwnEntry) {
    // The count that the decoder remembers for a message run must not be one that the listing can reach.
    const QString text = QString(999999, QLatin1Char('S')) + QLatin1Char('x');
    const QStringList listing = Commands::Decode({text}, false);
    ASSERT_EQ(listing.size(), 1000000);
    EXPECT_EQ(listing.last(), "x");
    EXPECT_EQ(listing.at(listing.size() - 2), "S Wait 1 second");
}

TEST(Decoder, WDependsOnTheModeButDDoesNot) {
    EXPECT_EQ(Decode("W", false), QStringList{"W Wait for External Trigger"});
    EXPECT_EQ(Decode("W", true), QStringList{"W Wait for GPS Trigger"});
    EXPECT_EQ(Decode("D", false), QStringList{"D Set speed to 21 wpm"});
    EXPECT_EQ(Decode("D", true), QStringList{"D Set speed to 21 wpm"});
}

// Callsigns and locators in capitals: a capital, one or two digits, a capital, across line breaks;
// reports, frequencies and numbers beside a single command are not taken for one.
TEST(Decoder, CallsignsInCapitalsAreNoticed) {
    for (const char* text : {"PSD de XX1XXX", "G4ABC", "vvv DL1ABC/B", "JO01AB", "de 2E0ABC", "G4\r\nABC"})
        EXPECT_TRUE(Commands::HasCapitalCallsign(text)) << text;
    for (const char* text :
         {"PSDvvvSQSZ", "de g4abc", "D599Z", "73Z", "IO91", "S 1 S", "", "4A", "A4", "de G4abc"})
        EXPECT_FALSE(Commands::HasCapitalCallsign(text)) << text;
    EXPECT_TRUE(Commands::DecodeText("PSD de XX1XXX", false, 127).capitalCallsign);
    EXPECT_FALSE(Commands::DecodeText("PSD de xx1xxx", false, 127).capitalCallsign);
}
