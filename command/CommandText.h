#pragma once
// What a command string can hold, and how text from the beacon or a file splits into its lines.

#include <QByteArray>
#include <QList>
#include <functional>

namespace Commands {

// The bytes of `text` that a command string can hold: line breaks (CR and LF) and every other byte
// except NUL, the remaining control characters, DEL and 0xFF. Serial adapters and beacons put such bytes
// on the line when the beacon is switched on; they must not become part of the operator's text.
QByteArray CommandTextFrom(const QByteArray& text);

// The lines of `text`: a line ends at CR, at LF or at CR LF, as the memo splits them. A text that ends
// with a line break has an empty last line.
QList<QByteArray> SplitLines(const QByteArray& text);

// `text` less every line for which `drop` holds, the kept lines joined by CR LF.
QByteArray RemoveLines(const QByteArray& text, const std::function<bool(const QByteArray& line)>& drop);

}  // namespace Commands
