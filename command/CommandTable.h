#pragma once
// The beacon's command alphabet: upper-case command letters and the listing text each one decodes to.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <span>

namespace Commands {

// The length above which the length alarm shows: for a normal and for a synchronized beacon.
constexpr int32_t kMaxChar = 127;
constexpr int32_t kMaxCharSynchronized = 99;
constexpr int32_t MaxCharFor(bool synchronized) {
    return synchronized ? kMaxCharSynchronized : kMaxChar;
}

// One command letter: what the listing shows for it, its Insert menu item, and whether a synchronized
// beacon carries it. Everything that knows the command alphabet takes it from here.
struct Command {
    char letter;
    const char* listing;        // the listing's row
    const char* syncListing;    // the row with the synchronized beacon selected; nullptr: the same
    const char* menuName;       // the Insert menu item's name
    const char* menuCaption;    // its caption as created
    const char* normalCaption;  // its caption once the normal mode is applied; nullptr: unchanged
    const char* syncCaption;    // its caption in synchronized mode; nullptr: unchanged
    int menuGroup;              // the Insert menu's groups stand between separators
    bool synchronizedBeacon;    // a synchronized beacon carries it (the Insert menu hides it otherwise)
};

// Every command, in the Insert menu's order.
std::span<const Command> Vocabulary();
// The command of a letter (exact upper-case character code), or nullptr for message text.
const Command* Find(QChar letter);

// The listing entry of a command letter, or nullptr when the character is message text. The text of
// W depends on whether the synchronized beacon is selected.
const char* ListingEntry(QChar letter, bool synchronized);

// Commands that a synchronized beacon cannot carry (the Insert menu hides them in synchronized mode).
bool IsIncompatibleWithSynchronized(QChar letter);

// Decodes the lines of a command string into listing entries: one per command, one per run of message
// text. A run of message text continues across line breaks and empty lines; "Z" ends the string (with an
// entry), "*" ends it without one.
QStringList Decode(const QStringList& lines, bool synchronized);

// Whether the text holds a callsign (or a locator) written in capitals, whose letters the beacon takes
// as commands: a capital letter, one or two digits, a capital letter ("G4ABC", "XX1XXX", "JO01AB").
// Line breaks do not count, since they are not sent. Three digits or more (a report, a frequency) and a
// digit with a capital on one side only ("73Z", "IO91") are not taken for a callsign.
bool HasCapitalCallsign(const QByteArray& text);

// The hint shown, without blocking anything, for a text that holds such a callsign.
inline constexpr char kCapitalsHint[] = "Capital letters are commands: write Morse text in lower case";

// What the listing shows for a command string, and what the length alarm and the synchronized beacon
// make of it.
struct Decoded {
    QStringList rows;              // the listing's entries
    qsizetype count = 0;           // characters, each line break counting two (CR LF)
    bool tooLong = false;          // count is above the limit
    bool incompatible = false;     // synchronized, and a command the synchronized beacon cannot carry
    bool capitalCallsign = false;  // HasCapitalCallsign: kCapitalsHint applies
};

// Decodes a command string of single bytes whose line breaks are CR LF, against the limit `maxChar`.
Decoded DecodeText(const QByteArray& text, bool synchronized, int32_t maxChar);

}  // namespace Commands
