#pragma once
// The beacon's command alphabet: upper-case command letters and the listing text each one decodes to.

#include <QString>
#include <QStringList>

namespace Commands {

// The listing entry of a command letter, or nullptr when the character is message text. The text of
// W depends on whether the synchronized beacon is selected.
const char* ListingEntry(QChar letter, bool synchronized);

// Commands that a synchronized beacon cannot carry (the Insert menu hides them in synchronized mode).
bool IsIncompatibleWithSynchronized(QChar letter);

// Decodes the lines of a command string into listing entries: one per command, one per run of message
// text. A run of message text continues across line breaks and empty lines; "Z" ends the string (with an
// entry), "*" ends it without one.
QStringList Decode(const QStringList& lines, bool synchronized);

}  // namespace Commands
