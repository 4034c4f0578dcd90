#pragma once
// The beacon's slot listing: one line per second value of the minute, each with the flags of the even
// and the odd minute. Bytes in, the 24-character slot table out; no other state.

#include <QByteArray>
#include <optional>

namespace SlotListing {

// The transmit slots of the two-minute cycle, and the table the program starts from (second 0 of the
// even and of the odd minutes).
constexpr int kSlotCount = 24;
constexpr char kDefaultTable[] = "100000000000100000000000";

// Reads every line of `received` that contains "sec" as a listing line. Nothing when the text holds no
// "sec" at all (the table is then left as it was); otherwise 24 characters, "0" where no line spoke.
std::optional<QByteArray> Read(const QByteArray& received);

// The seconds of a listing line's first two characters: a decimal number (leading blanks and a sign
// allowed), or 0 when they are not one.
int Seconds(const QByteArray& firstTwo);

}  // namespace SlotListing
