// The slot listing reader over any bytes. The flags are copied as the beacon printed them, so the table
// holds "0" and "1" only when the listing does; what always holds:
//   - a table exactly when the text holds "sec", and then 24 characters;
//   - every character is "0" (no line spoke for the slot) or a byte of the text before its first NUL,
//     never a line break or NUL;
//   - the text after the first NUL changes nothing, and neither does writing CR LF as LF;
//   - a well-formed line added at the end sets its two slots to its flags and leaves the others alone.
#include <QByteArray>
#include <cstdint>

#include "FuzzSupport.h"
#include "link/SlotListing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The last byte chooses the added line's seconds and flags; the rest is the received text.
    const uint8_t choice = data[size - 1];
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size - 1));
    const std::optional<QByteArray> mask = SlotListing::Read(text);
    FUZZ_CHECK(mask.has_value() == text.contains("sec"));
    if (!mask) return 0;
    FUZZ_CHECK(mask->size() == SlotListing::kSlotCount);

    const qsizetype nul = text.indexOf('\0');
    const QByteArray beforeNul = nul < 0 ? text : text.left(nul);
    for (char c : *mask) {
        FUZZ_CHECK(c != '\0' && c != '\r' && c != '\n');
        FUZZ_CHECK(c == '0' || beforeNul.contains(c));
    }

    // Only the text before the first NUL is read (as long as it still holds "sec" itself).
    if (nul >= 0 && beforeNul.contains("sec")) FUZZ_CHECK(SlotListing::Read(beforeNul) == mask);
    QByteArray lf = text;
    lf.replace("\r\n", "\n");
    FUZZ_CHECK(SlotListing::Read(lf) == mask);

    // One more listing line, after a line break, overwrites exactly its two slots.
    if (nul < 0) {
        const int slot = choice % 12;
        const char even = (choice & 0x40) ? '1' : '0';
        const char odd = (choice & 0x80) ? '1' : '0';
        QByteArray line = QByteArray::number(5 * slot).rightJustified(2, '0') + " sec " + even + ' ' + odd;
        if ((choice & 0x20) && slot < 2) line.remove(0, 1);  // one-digit seconds, "5 sec 1 0"
        const std::optional<QByteArray> longer = SlotListing::Read(text + "\r\n" + line + "\r\n");
        FUZZ_CHECK(longer.has_value() && longer->size() == SlotListing::kSlotCount);
        for (int i = 0; i < SlotListing::kSlotCount; ++i) {
            const char want = i == slot ? even : i == slot + 12 ? odd : mask->at(i);
            FUZZ_CHECK(longer->at(i) == want);
        }
    }
    return 0;
}
