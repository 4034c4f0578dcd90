// Presenting the transcript: readable bytes, joined lines and the closing figures.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tools/sim/TranscriptPrinter.h"

using namespace zbsim;

TEST(Transcript, ReadableShowsControlAndHighBytesInBrackets) {
    EXPECT_EQ(Readable("y/n\r\n"), "y/n<CR><LF>");
    EXPECT_EQ(Readable(std::string("a\0b\t\x1b\x7f\xe9", 7)), "a<NUL>b<TAB><ESC><0x7F><0xE9>");
    EXPECT_EQ(Readable(std::string(1, '\x01')), "<0x01>");
}

TEST(Transcript, SummarizeGivesMedianMinAndMax) {
    DelayStats odd = Summarize({1.2, 0.9, 1.0});
    EXPECT_EQ(odd.count, 3u);
    EXPECT_DOUBLE_EQ(odd.median, 1.0);
    EXPECT_DOUBLE_EQ(odd.min, 0.9);
    EXPECT_DOUBLE_EQ(odd.max, 1.2);
    DelayStats even = Summarize({0.4, 1.0, 0.5, 2.0});
    EXPECT_DOUBLE_EQ(even.median, 0.75);
    EXPECT_EQ(Summarize({}).count, 0u);
}

TEST(TranscriptPrinter, JoinsBytesIntoLinesAndBreaksAtLfDirectionAndQuiet) {
    std::vector<std::string> lines;
    TranscriptPrinter printer([&](const std::string& line) { lines.push_back(line); });
    auto add = [&](double t, Direction d, const std::string& bytes) {
        printer.Add(TranscriptEntry{t, std::llround(t * 1e9), d, bytes});
    };
    add(1.0, Direction::ToTool, "PSD");
    add(1.001, Direction::ToTool, "vZ\r");
    EXPECT_TRUE(lines.empty());
    add(1.002, Direction::ToTool, "\nChange");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[     1.000] beacon PSDvZ<CR><LF>\n");
    add(1.003, Direction::ToTool, " program? y/n\r\nSlot");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "[     1.002] beacon Change program? y/n<CR><LF>\n");

    // A partial line is printed once quiet, or when the other side speaks.
    EXPECT_EQ(printer.DueNs(), 1'003'000'000 + TranscriptPrinter::kQuietNs);
    printer.FlushIfQuiet(1'100'000'000);
    EXPECT_EQ(lines.size(), 2u);
    printer.FlushIfQuiet(1'300'000'000);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "[     1.003] beacon Slot\n");
    EXPECT_EQ(printer.DueNs(), -1);

    add(2.0, Direction::FromTool, "3");
    add(2.1, Direction::FromTool, "0\r");
    add(2.2, Direction::ToTool, "\r\n");
    add(2.3, Direction::Note, "switched on");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], "[     2.000] tool   30<CR>\n");
    EXPECT_EQ(lines[4], "[     2.200] beacon <CR><LF>\n");
    EXPECT_EQ(lines[5], "[     2.300] note   switched on\n");
}

TEST(TranscriptPrinter, SummaryGivesTheFiguresOverallAndPerQuestion) {
    const std::vector<AnswerDelay> delays = {{Prompt::ChangeProgram, 0.9936},
                                             {Prompt::ChangeSlots, 1.0004},
                                             {Prompt::SetOrClear, 0.4968},
                                             {Prompt::ChangeSlots, 0.998}};
    const std::string text = FormatSummary("AB\tZ", "100000000000100000000000", delays);
    EXPECT_EQ(text,
              "Stored program: AB<TAB>Z\n"
              "Slot table:     100000000000100000000000\n"
              "Answer delays:  4 answers, median 995.8 ms, min 496.8 ms, max 1000.4 ms\n"
              "  Change program?   1 answer, median 993.6 ms, min 993.6 ms, max 993.6 ms\n"
              "  Change GPS?       2 answers, median 999.2 ms, min 998.0 ms, max 1000.4 ms\n"
              "  Set or clear?     1 answer, median 496.8 ms, min 496.8 ms, max 496.8 ms\n");
}
