#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include <string>

// Every byte string comes back as itself; UTF-8 reads as Qt reads it; the rest shows as U+FFFD.
TEST(FileNames, AnyBytesRoundTripAndValidUtf8IsText) {
    const std::string cases[] = {
        "/home/op/default.txt",
        "/home/op/caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xA1.txt",  // valid: 2, 3 and 4 bytes
        "caf\xE9.txt",                                             // Latin-1
        "\xFF\xFE\x80\xBF",                                        // never valid
        "\xC3",                                                    // cut short at the end
        "\xE2\x82x",                                               // cut short before a letter
        "\xC0\xAF\xE0\x80\xAF",                                    // overlong forms
        "\xED\xB2\x80",                                            // an encoded surrogate
        "\xF4\x90\x80\x80",                                        // beyond U+10FFFF
        "\xF0\x9F\x93\xA1\x80",                                    // a stray byte after a pair
    };
    for (const std::string& bytes : cases) {
        const QString text = FileNames::FromBytes(bytes);
        EXPECT_EQ(FileNames::ToBytes(text), bytes) << testing::PrintToString(bytes);
        const QString shown = FileNames::ForDisplay(text);  // no lone surrogate left to show
        EXPECT_EQ(QString::fromUtf8(shown.toUtf8()), shown) << testing::PrintToString(bytes);
    }
    EXPECT_EQ(FileNames::FromBytes(cases[1]), QString::fromUtf8(cases[1].c_str()));
    EXPECT_EQ(FileNames::ForDisplay(FileNames::FromBytes("caf\xE9 \xF0\x9F\x93\xA1")),
              QString::fromUtf8("caf\uFFFD \xF0\x9F\x93\xA1"));
    EXPECT_EQ(FileNames::ForDisplay(FileNames::FromBytes("\xED\xB2\x80")), QString(3, QChar(0xFFFD)));
    // Text that did not come from bytes: a lone surrogate is stored as U+FFFD.
    EXPECT_EQ(FileNames::ToBytes(QString(QChar(0xD800))), "\xEF\xBF\xBD");
}
