// The beacon's slot listing read into SlotMask, and its comparison with the GPS menu's ticks.
#include <gtest/gtest.h>

#include <QAction>

#include "support/FormHarness.h"

namespace {

class SlotSchedule : public ::testing::Test {
protected:
    void SetUp() override {
        form = &harness.Start(false);
        for (QAction* item : form->GPSSlots)
            item->setChecked(false);
    }

    QByteArray Read(const QByteArray& received) {
        form->Engine->SetReceivedText(received);
        form->Engine->ReadSlotListing();
        return form->Engine->SlotMask();
    }

    void Tick(std::initializer_list<int> wanted) {
        for (QAction* item : form->GPSSlots)
            item->setChecked(false);
        for (int slot : wanted)
            form->GPSSlots[slot]->setChecked(true);
    }

    bool Match(const QByteArray& mask) {
        form->Engine->SetSlotMask(mask);
        return form->Engine->SlotsMatch();
    }

    FormHarness harness;
    TForm1* form = nullptr;
};

// A mask with the given characters at the given positions and "0" elsewhere.
QByteArray Mask(std::initializer_list<std::pair<int, char>> set) {
    QByteArray mask(24, '0');
    for (const auto& [slot, c] : set)
        mask[slot] = c;
    return mask;
}

}  // namespace

TEST_F(SlotSchedule, ListingAsTheBeaconPrintsIt) {
    // One-digit seconds are padded to two: "5 sec 1 0" is slot 1, flags from columns 8 and 10.
    QByteArray listing;
    const char* lines[] = {"0 sec 1 1",  "5 sec 1 0",  "10 sec 0 0", "15 sec 0 1",
                           "20 sec 0 0", "25 sec 0 0", "30 sec 0 0", "35 sec 0 0",
                           "40 sec 0 0", "45 sec 0 0", "50 sec 0 0", "55 sec 1 1"};
    for (const char* line : lines)
        listing += QByteArray(line) + "\r\n";
    EXPECT_EQ(Read("ProgramGPS\r" + listing + "Change GPS? y/n\r\n"), "110000000001100100000001");

    // Lines may end in CR, LF or CR LF; slots without a line stay "0".
    EXPECT_EQ(Read("10 sec 1 0\r15 sec 0 1\n20 sec 1 1\r\n"),
              Mask({{2, '1'}, {15, '1'}, {4, '1'}, {16, '1'}}));
}

TEST_F(SlotSchedule, LaterLinesOverwriteAndFlagsAreCopiedAsCharacters) {
    EXPECT_EQ(Read("10 sec 1 1\r\n10 sec 0 1\r\n"), Mask({{14, '1'}}));
    EXPECT_EQ(Read("20 sec x ?\r\n"), Mask({{4, 'x'}, {16, '?'}}));
    // Two characters that are not a decimal number are second 0, hexadecimal forms included.
    EXPECT_EQ(Read("ab sec 1 1\r\n"), Mask({{0, '1'}, {12, '1'}}));
    EXPECT_EQ(Read("$A sec 1 1\r\n"), Mask({{0, '1'}, {12, '1'}}));
    EXPECT_EQ(Read("xA sec 1 1\r\n"), Mask({{0, '1'}, {12, '1'}}));
    EXPECT_EQ(Read("+5 sec 1 1\r\n"), Mask({{1, '1'}, {13, '1'}}));
}

TEST_F(SlotSchedule, LinesThatCannotBeListingLinesAreSkipped) {
    // Shorter than 10 characters (after padding), or seconds outside the minute.
    EXPECT_EQ(Read("5 sec 1\r\n10 sec 1 \r\n"), Mask({}));
    EXPECT_EQ(Read("75 sec 1 1\r\n-5 sec 1 1\r\n99 sec 1 1\r\n15 sec 1 1\r\n"), Mask({{3, '1'}, {15, '1'}}));
    // The text ends at its first NUL.
    EXPECT_EQ(Read(QByteArray("10 sec 1 1\r\n\0"
                              "15 sec 1 1\r\n",
                              25)),
              Mask({{2, '1'}, {14, '1'}}));
    // Lines without "sec" are no listing lines.
    EXPECT_EQ(Read("Beacon xx 1 1 1 1\r\n30 sec 1 0\r\n"), Mask({{6, '1'}}));
}

TEST_F(SlotSchedule, TextWithoutSecLeavesTheMaskAlone) {
    form->Engine->SetSlotMask("1010");
    EXPECT_EQ(Read("Change GPS? y/n\r\n"), "1010");
    // "sec" somewhere, even after a NUL, but no usable line: every slot is cleared.
    EXPECT_EQ(Read(QByteArray("\0"
                              "10 sec 1 1",
                              11)),
              Mask({}));
    form->Engine->SetSlotMask("1010");
    EXPECT_EQ(Read("5 sec\r\n"), Mask({}));
}

TEST_F(SlotSchedule, MenuAndMaskAgreeSlotBySlot) {
    Tick({0, 12});
    EXPECT_TRUE(Match("100000000000100000000000"));
    EXPECT_FALSE(Match("100000000000000000000000"));  // ticked, beacon "0"
    EXPECT_FALSE(Match("100000000000100000000001"));  // unticked, beacon "1"
    // Any other character agrees with either state of the item.
    EXPECT_TRUE(Match("?00000000000x0000000000?"));
    // A short mask agrees past its end; an empty one agrees everywhere.
    EXPECT_TRUE(Match("1"));
    EXPECT_FALSE(Match("0"));
    EXPECT_TRUE(Match(""));
    Tick({23});
    EXPECT_TRUE(Match("00000000000000000000000"));
    EXPECT_FALSE(Match("000000000000000000000000"));
}
