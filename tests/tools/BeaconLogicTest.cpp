// The beacon's conversation byte by byte, without any I/O.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/sim/BeaconLogic.h"

using namespace zbsim;

namespace {

const std::string kSwitchOn = "PSDvvvSQSZ\r\nChange program? y/n\r\n";

// The slot listing for a slot table, written out by hand: "<seconds> sec <even> <odd>" CR LF.
std::string Listing(const std::string& slotTable) {
    std::string text;
    for (int i = 0; i < 12; ++i) {
        text += std::to_string(5 * i) + " sec " + slotTable[i] + " " + slotTable[i + 12] + "\r\n";
    }
    return text;
}

struct Fed {
    std::vector<FeedResult> results;
    std::string output;
};

Fed Feed(BeaconLogic& logic, const std::string& bytes) {
    Fed fed;
    for (char c : bytes)
        fed.results.push_back(logic.Feed(static_cast<unsigned char>(c)));
    for (const OutputPiece& piece : logic.TakeOutput())
        fed.output += piece.text;
    return fed;
}

std::string Output(BeaconLogic& logic) {
    std::string text;
    for (const OutputPiece& piece : logic.TakeOutput())
        text += piece.text;
    return text;
}

BeaconLogic MakeBeacon(bool synchronized, std::string slotTable = "100000000000100000000000") {
    BeaconConfig config;
    config.synchronized = synchronized;
    config.slotTable = std::move(slotTable);
    return BeaconLogic(config);
}

}  // namespace

TEST(BeaconLogic, NormalBeaconAnsweredNoStartsBeaconingAndIgnoresEverythingAfter) {
    BeaconLogic logic = MakeBeacon(false);
    EXPECT_EQ(logic.State(), BeaconState::Off);
    EXPECT_EQ(Feed(logic, "yn").results, (std::vector{FeedResult::Ignored, FeedResult::Ignored}));

    logic.SwitchOn();
    const std::vector<OutputPiece> pieces = logic.TakeOutput();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], (OutputPiece{"PSDvvvSQSZ\r\n", Prompt::None}));
    EXPECT_EQ(pieces[1], (OutputPiece{"Change program? y/n\r\n", Prompt::ChangeProgram}));
    EXPECT_EQ(logic.Awaiting(), Prompt::ChangeProgram);

    Fed fed = Feed(logic, "n");
    EXPECT_EQ(fed.results, std::vector{FeedResult::Answer});
    EXPECT_EQ(fed.output, "Beacon running\r\n");
    EXPECT_EQ(logic.State(), BeaconState::Beaconing);
    EXPECT_EQ(logic.Awaiting(), Prompt::None);

    fed = Feed(logic, "ynZ\r");
    EXPECT_EQ(fed.output, "");
    for (FeedResult r : fed.results)
        EXPECT_EQ(r, FeedResult::Ignored);
    EXPECT_EQ(logic.StoredProgram(), "PSDvvvSQSZ");
}

TEST(BeaconLogic, ProgrammingStoresTheMessageUpToTheFirstZAndMayBeRepeated) {
    BeaconLogic logic = MakeBeacon(false);
    logic.SwitchOn();
    EXPECT_EQ(Output(logic), kSwitchOn);

    Fed fed = Feed(logic, "y");
    EXPECT_EQ(fed.output, "Enter new program, end by Z.\r\n");
    EXPECT_EQ(logic.State(), BeaconState::Message);

    // The first message byte answers the request; the others continue it; nothing is echoed.
    fed = Feed(logic, "AB vZ");
    EXPECT_EQ(fed.results, (std::vector{FeedResult::Answer, FeedResult::Continued, FeedResult::Continued,
                                        FeedResult::Continued, FeedResult::Continued}));
    EXPECT_EQ(fed.output, "\r\nChg msg? y/n\r\n");
    EXPECT_EQ(logic.StoredProgram(), "AB vZ");

    // Bytes after the Z are not part of the message: they meet the question and are ignored.
    fed = Feed(logic, "QZy");
    EXPECT_EQ(fed.results, (std::vector{FeedResult::Ignored, FeedResult::Ignored, FeedResult::Answer}));
    EXPECT_EQ(fed.output, "Enter new program, end by Z.\r\n");

    // The second message replaces the first; control characters in it are dropped.
    fed = Feed(logic, "S\r\nQ\tZ");
    EXPECT_EQ(fed.results[1], FeedResult::Ignored);
    EXPECT_EQ(logic.StoredProgram(), "SQZ");
    fed = Feed(logic, "n");
    EXPECT_EQ(fed.output, "Beacon running\r\n");

    // The next switch-on prints the new program.
    logic.SwitchOn();
    EXPECT_EQ(Output(logic), "SQZ\r\nChange program? y/n\r\n");
}

TEST(BeaconLogic, EchoRepeatsTheMessageAndBytesBeyondTheCapacityAreDropped) {
    BeaconConfig config;
    config.echo = true;
    BeaconLogic logic(config);
    logic.SwitchOn();
    Output(logic);
    Feed(logic, "y");
    EXPECT_EQ(Feed(logic, "AbZ").output, "AbZ\r\nChg msg? y/n\r\n");

    Feed(logic, "y");
    const std::string tooLong(BeaconLogic::kMaxProgram + 100, 'x');
    Feed(logic, tooLong + "Z");
    EXPECT_EQ(logic.StoredProgram(), std::string(BeaconLogic::kMaxProgram - 1, 'x') + "Z");
}

TEST(BeaconLogic, SynchronizedBeaconListsItsSlotsAndSetsAndClearsThem) {
    BeaconLogic logic = MakeBeacon(true);
    logic.SwitchOn();
    Output(logic);

    std::string slotTable = "100000000000100000000000";
    Fed fed = Feed(logic, "n");
    EXPECT_EQ(fed.output, Listing(slotTable) + "Change GPS? y/n\r\n");
    EXPECT_EQ(logic.State(), BeaconState::SlotQuestion);

    EXPECT_EQ(Feed(logic, "y").output, "Set or clear slot? s/c\r\n");
    EXPECT_EQ(Feed(logic, "s").output, "Slot time in sec? ");
    // Second 30 of even minutes is slot 6.
    fed = Feed(logic, "30\r");
    EXPECT_EQ(fed.results, (std::vector{FeedResult::Answer, FeedResult::Continued, FeedResult::Continued}));
    slotTable[6] = '1';
    EXPECT_EQ(fed.output, "\r\n" + Listing(slotTable) + "Change GPS? y/n\r\n");
    EXPECT_EQ(logic.Slots(), slotTable);

    // Second 0 of odd minutes is offset 60, slot 12; the last slot is offset 115.
    Feed(logic, "yc");
    Feed(logic, "60\r");
    slotTable[12] = '0';
    EXPECT_EQ(logic.Slots(), slotTable);
    Feed(logic, "ys");
    Feed(logic, "115\r");
    slotTable[23] = '1';
    EXPECT_EQ(logic.Slots(), slotTable);
    // Leading zeros are read as a number.
    Feed(logic, "ys");
    Feed(logic, "0005\r");
    slotTable[1] = '1';
    EXPECT_EQ(logic.Slots(), slotTable);

    EXPECT_EQ(Feed(logic, "n").output, "Beacon running\r\n");
    EXPECT_EQ(logic.State(), BeaconState::Beaconing);
}

TEST(BeaconLogic, SynchronizedBeaconGoesToTheSlotsAfterAMessageToo) {
    BeaconLogic logic = MakeBeacon(true, "000000000000000000000001");
    logic.SwitchOn();
    Output(logic);
    Feed(logic, "y");
    EXPECT_EQ(Feed(logic, "AZ").output, "\r\nChg msg? y/n\r\n");
    EXPECT_EQ(Feed(logic, "n").output, Listing("000000000000000000000001") + "Change GPS? y/n\r\n");
}

TEST(BeaconLogic, InvalidSlotTimesChangeNothingAndAskAgain) {
    const std::string slotTable = "100000000000100000000000";
    const std::string again =
        "\r\nInvalid slot time, nothing changed\r\n" + Listing(slotTable) + "Change GPS? y/n\r\n";
    for (const std::string time : {"7", "120", "", "1000", "99999999999999999999", "0120"}) {
        BeaconLogic logic = MakeBeacon(true);
        logic.SwitchOn();
        Feed(logic, "nys");
        Output(logic);
        EXPECT_EQ(Feed(logic, time + "\r").output, again) << "time \"" << time << "\"";
        EXPECT_EQ(logic.Slots(), slotTable);
        EXPECT_EQ(logic.State(), BeaconState::SlotQuestion);
    }
    // Bytes other than digits and CR inside the time are ignored.
    BeaconLogic logic = MakeBeacon(true);
    logic.SwitchOn();
    Feed(logic, "nyc");
    Output(logic);
    Fed fed = Feed(logic, "-\n6x0\r");
    EXPECT_EQ(fed.results, (std::vector{FeedResult::Ignored, FeedResult::Ignored, FeedResult::Answer,
                                        FeedResult::Ignored, FeedResult::Continued, FeedResult::Continued}));
    EXPECT_EQ(logic.Slots(), "100000000000000000000000");
}

TEST(BeaconLogic, StrayBytesAtEveryQuestionAreIgnored) {
    BeaconLogic logic = MakeBeacon(true);
    logic.SwitchOn();
    Output(logic);
    const std::string strays("YNx \r\n\0\xff", 8);
    auto expectIgnored = [&](BeaconState state) {
        const Fed fed = Feed(logic, strays);
        EXPECT_EQ(fed.output, "");
        for (FeedResult r : fed.results)
            EXPECT_EQ(r, FeedResult::Ignored);
        EXPECT_EQ(logic.State(), state);
    };
    expectIgnored(BeaconState::ChangeQuestion);
    Feed(logic, "y");
    Feed(logic, "AZ");
    expectIgnored(BeaconState::ChangeMessageQuestion);
    Feed(logic, "n");
    expectIgnored(BeaconState::SlotQuestion);
    Feed(logic, "y");
    expectIgnored(BeaconState::SetOrClearQuestion);
    EXPECT_EQ(logic.StoredProgram(), "AZ");
}

TEST(BeaconLogic, PowerCycleInTheMiddleRestartsAndKeepsOnlyCompletedChanges) {
    BeaconLogic logic = MakeBeacon(true);
    logic.SwitchOn();
    Feed(logic, "y");
    Feed(logic, "NEW");  // the message is not finished
    logic.SwitchOn();
    EXPECT_EQ(Output(logic), kSwitchOn);  // pending output of the old run is gone
    EXPECT_EQ(logic.State(), BeaconState::ChangeQuestion);
    EXPECT_EQ(logic.StoredProgram(), "PSDvvvSQSZ");

    // A slot change half typed is forgotten; a completed one survives the power cycle.
    Feed(logic, "nys");
    Feed(logic, "25\r");
    Feed(logic, "ys3");
    logic.SwitchOn();
    Output(logic);
    Feed(logic, "n");
    EXPECT_EQ(logic.Slots(), "100001000000100000000000");
    EXPECT_EQ(Feed(logic, "0\r").results, (std::vector{FeedResult::Ignored, FeedResult::Ignored}));

    logic.SwitchOff();
    EXPECT_FALSE(logic.HasOutput());
    EXPECT_EQ(logic.State(), BeaconState::Off);
}

TEST(BeaconLogic, ListingPutsTheFlagsInColumnsEightAndTenAfterPadding) {
    const std::string slotTable = "101100111000010011101001";
    BeaconLogic logic = MakeBeacon(true, slotTable);
    logic.SwitchOn();
    Output(logic);
    const std::string text = Feed(logic, "n").output;

    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
        lines.push_back(text.substr(from, end - from));
    }
    ASSERT_EQ(lines.size(), 13u);
    for (int i = 0; i < 12; ++i) {
        std::string line = lines[i];
        // Single-digit seconds are written with one digit; the tool pads them with a leading 0.
        EXPECT_EQ(line[1] == ' ', i < 2) << line;
        if (line[1] == ' ') line = "0" + line;
        ASSERT_GE(line.size(), 10u);
        EXPECT_EQ(std::stoi(line.substr(0, 2)), 5 * i);
        EXPECT_NE(line.find("sec"), std::string::npos);
        EXPECT_EQ(line[7], slotTable[i]) << line;       // column 8
        EXPECT_EQ(line[9], slotTable[i + 12]) << line;  // column 10
    }
    EXPECT_EQ(lines[11].substr(0, 6), "55 sec");
    EXPECT_NE(lines[12].find("GPS? y/n"), std::string::npos);
}

// The tool recognises the beacon only by fixed fragments. Each question must carry its own and no
// other; every other line (apart from the stored program and the listing) must carry none.
TEST(BeaconLogic, OnlyTheQuestionsCarryTheFragmentsTheToolLooksFor) {
    const std::vector<std::string> fragments = {"y/n\r\n",
                                                "sg? y/n",
                                                "by Z.",
                                                "then Z",
                                                "s/c",
                                                "sec?",
                                                "sec",
                                                "55 sec",
                                                "GPS? y/n",
                                                "Change program?",
                                                "Enter new program",
                                                "Chg msg? y/n"};
    const std::map<Prompt, std::vector<std::string>> own = {
        {Prompt::ChangeProgram, {"Change program?", "y/n\r\n"}},
        {Prompt::EnterProgram, {"Enter new program", "by Z."}},
        {Prompt::ChangeMessage, {"Chg msg? y/n", "sg? y/n", "y/n\r\n"}},
        {Prompt::ChangeSlots, {"GPS? y/n", "y/n\r\n"}},
        {Prompt::SetOrClear, {"s/c"}},
        {Prompt::SlotTime, {"sec?", "sec"}},
    };
    const std::regex listingLine("[0-9]{1,2} sec [01] [01]");

    // Every path through the conversation, including the complaint about a bad time.
    std::vector<OutputPiece> pieces;
    for (const std::string& answers :
         {std::string("n"), std::string("yAZyBZn"), std::string("nys30\ryc7\ryc0\rn")}) {
        BeaconLogic logic = MakeBeacon(true);
        logic.SwitchOn();
        std::vector<OutputPiece> first = logic.TakeOutput();
        first.front().text.erase(0, first.front().text.find("\r\n") + 2);  // the stored program is data
        pieces.insert(pieces.end(), first.begin(), first.end());
        for (char c : answers) {
            logic.Feed(static_cast<unsigned char>(c));
            for (OutputPiece& p : logic.TakeOutput())
                pieces.push_back(std::move(p));
        }
    }
    std::map<Prompt, int> asked;
    for (const OutputPiece& piece : pieces) {
        if (piece.prompt != Prompt::None) {
            ++asked[piece.prompt];
            const std::vector<std::string>& allowed = own.at(piece.prompt);
            for (const std::string& f : allowed)
                EXPECT_NE(piece.text.find(f), std::string::npos) << piece.text;
            for (const std::string& f : fragments) {
                if (std::find(allowed.begin(), allowed.end(), f) != allowed.end()) continue;
                EXPECT_EQ(piece.text.find(f), std::string::npos) << "\"" << f << "\" in " << piece.text;
            }
            continue;
        }
        size_t from = 0;
        while (from < piece.text.size()) {
            size_t end = piece.text.find("\r\n", from);
            end = end == std::string::npos ? piece.text.size() : end + 2;
            const std::string line = piece.text.substr(from, end - from);
            from = end;
            if (std::regex_search(line, listingLine)) continue;
            for (const std::string& f : fragments) {
                EXPECT_EQ(line.find(f), std::string::npos) << "\"" << f << "\" in " << line;
            }
        }
    }
    EXPECT_EQ(asked.size(), own.size());  // every question was checked
}

TEST(BeaconLogic, RejectsUnusableConfigurations) {
    BeaconConfig config;
    EXPECT_EQ(BeaconLogic::CheckConfig(config), "");
    config.slotTable = "10000000000010000000000";  // 23
    EXPECT_NE(BeaconLogic::CheckConfig(config), "");
    config.slotTable = "10000000000010000000000x";
    EXPECT_NE(BeaconLogic::CheckConfig(config), "");
    EXPECT_THROW(BeaconLogic{config}, std::invalid_argument);
    config = BeaconConfig{};
    config.program = "AB\r\nZ";
    EXPECT_NE(BeaconLogic::CheckConfig(config), "");
    config.program = std::string(BeaconLogic::kMaxProgram + 1, 'A');
    EXPECT_NE(BeaconLogic::CheckConfig(config), "");
    config.program = "";
    EXPECT_EQ(BeaconLogic::CheckConfig(config), "");
}
