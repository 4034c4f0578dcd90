// Which operation owns what: the beacon's power-up noise and its stored program's own words answer
// nothing, and an operation started (or a port chosen) midway takes the dialogue over from the upload,
// the countdown and every pending answer. The engine behind the fake host; pauses take no time.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/FakeBeaconHost.h"

namespace {

zbsim::BeaconConfig Beacon(std::string program, bool synchronized = false) {
    zbsim::BeaconConfig config;
    config.program = std::move(program);
    config.synchronized = synchronized;
    return config;
}

// Notes what the received text was whenever the engine paused or started the countdown: a marker
// replaces the text just before either.
class MarkerHost : public FakeBeaconHost {
public:
    using FakeBeaconHost::FakeBeaconHost;
    void Pause(double units) override {
        seen.insert(engine.ReceivedText());
        FakeBeaconHost::Pause(units);
    }
    void StartCountdown() override {
        seen.insert(engine.ReceivedText());
        sentBeforeCountdown = sent;
        FakeBeaconHost::StartCountdown();
    }
    void ReceivedTextGrew() override { seen.insert(engine.ReceivedText()); }

    std::set<QByteArray> seen;
    std::string sentBeforeCountdown = "<none>";
};

}  // namespace

// Noise before the stored program stays out of the command string (the received text, which the debug
// window shows, keeps it); a stored program that ends in "y/n" or asks "by Z." / "then Z" is no
// question: each operation answers the beacon's real questions once, whatever the chunking.
TEST(BeaconEngine, PowerUpNoiseAndTheStoredProgramsOwnWordsAnswerNothing) {
    for (size_t chunk : {0u, 1u, 3u, 12u}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        {
            zbsim::BeaconConfig config = Beacon("PSDvvvSQSZ");
            config.powerUpNoise = std::string("\0\0\0\xff\x7f\x01\t", 7);
            FakeBeaconHost host(config);
            host.chunk = chunk;
            ASSERT_TRUE(host.engine.Start(LinkMode::Read));
            host.beacon.SwitchOn();
            host.Collect();
            host.Deliver(3);
            EXPECT_TRUE(host.engine.ReceivedText().startsWith(QByteArray("\0\0\0", 3)));
            host.Run();
            EXPECT_EQ(host.command, "PSDvvvSQSZ");
            EXPECT_EQ(host.sent, "n");
        }
        for (const char* program : {"vv y/n", "vv by Z. then Z y/n", "then Z"}) {
            SCOPED_TRACE(program);
            MarkerHost read(Beacon(program));
            read.chunk = chunk;
            ASSERT_TRUE(read.engine.Start(LinkMode::Read));
            read.beacon.SwitchOn();
            read.Run();
            EXPECT_EQ(read.sent, "n");
            EXPECT_EQ(read.command, program);

            MarkerHost verify(Beacon(program));
            verify.chunk = chunk;
            verify.command = program;
            ASSERT_TRUE(verify.engine.Start(LinkMode::Verify));
            verify.beacon.SwitchOn();
            verify.Run();
            EXPECT_EQ(verify.sent, "n");
            EXPECT_EQ(verify.caption, "Beacon Sequence OK");

            MarkerHost program_(Beacon(program));
            program_.chunk = chunk;
            program_.command = "KZ";
            ASSERT_TRUE(program_.engine.Start(LinkMode::Program));
            program_.beacon.SwitchOn();
            program_.Run();
            EXPECT_EQ(program_.sentBeforeCountdown, "y");  // the message request counts only after the y
            EXPECT_EQ(program_.sent, "yKZn");
            EXPECT_EQ(program_.beacon.StoredProgram(), "KZ");
        }
    }
}

// An operation started during the upload stops it: no further character, no "Z", so the beacon keeps
// its old program; the cursor comes back, the new operation's strip and status stay. A countdown that
// ends after another start sends nothing. A port choice during an answer's pause sends nothing more.
// A tick changed during the slot question's pause cannot leave the set-or-clear question unanswered.
TEST(BeaconEngine, AnOperationStartedMidwayOwnsTheDialogue) {
    {
        SCOPED_TRACE("start during the upload");
        FakeBeaconHost host(Beacon("PSDvvvSQSZ"));
        host.command = "KKKKKKKKZ";
        int uploadPauses = 0;
        host.duringPause = [&] {
            if (!host.busy || ++uploadPauses != 3) return;
            host.engine.Start(LinkMode::Verify);
        };
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "yKKK");
        EXPECT_FALSE(host.busy);
        EXPECT_EQ(host.engine.Mode(), LinkMode::Verify);
        EXPECT_EQ(host.caption, "Check jumper. Turn beacon off and then on.");
        EXPECT_EQ(host.status, "Ready to read beacon");
        host.beacon.SwitchOn();  // the operator's power cycle: the old program is still there
        host.Run();
        EXPECT_EQ(host.beacon.StoredProgram(), "PSDvvvSQSZ");
        EXPECT_EQ(host.caption, "Sequence Verify Failed");  // the memo was never stored
        EXPECT_EQ(host.sent, "yKKKn");
        EXPECT_EQ(host.engine.Mode(), LinkMode::VerifyGPS);
    }
    {
        SCOPED_TRACE("a countdown that outlives its operation");
        FakeBeaconHost host(Beacon("PSDvvvSQSZ"));
        host.command = "KZ";
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Collect();
        while (!host.pending.empty()) {
            host.Deliver();
            host.Collect();
        }
        ASSERT_TRUE(host.countdown);
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        EXPECT_FALSE(host.countdown);    // stopped with the operation that started it
        host.engine.CountdownExpired();  // and a stop event already on its way does nothing
        EXPECT_EQ(host.sent, "y");
        EXPECT_FALSE(host.busy);
        EXPECT_EQ(host.engine.Mode(), LinkMode::Program);
    }
    {
        SCOPED_TRACE("port choice during an answer's pause");
        FakeBeaconHost host(Beacon("PSDvvvSQSZ"));
        host.command = "KZ";
        host.duringPause = [&] { host.engine.EndOperation(); };
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "");
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
        EXPECT_FALSE(host.countdown);
    }
    {
        SCOPED_TRACE("tick changed during the slot question's pause");
        zbsim::BeaconConfig config = Beacon("PSDvvvSQSZ", true);
        config.slotTable = "100000000000100000000000";
        FakeBeaconHost host(config);
        host.synchronized = true;
        host.ticks = "100000100000100000000000";
        host.command = "KZ";
        bool untick = false;
        host.duringPause = [&] {
            if (host.engine.Mode() != LinkMode::ProgramGPS2 || untick) return;
            untick = true;
            host.ticks = "100000000000100000000000";  // the menu now equals the beacon's table
        };
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        // The slot chosen with the y is set; the next exchange clears it again to match the menu.
        EXPECT_EQ(host.sent, "yKZnys30\ryc30\rn");
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
        EXPECT_EQ(host.beacon.Slots(), "100000000000100000000000");
        EXPECT_EQ(host.beacon.State(), zbsim::BeaconState::Beaconing);
    }
}

// The texts that replace the received text as the dialogue goes on, which the debug window shows.
TEST(BeaconEngine, MarkerTextsAreTheOnesTheDebugWindowShows) {
    zbsim::BeaconConfig config = Beacon("PSDvvvSQSZ", true);
    config.slotTable = "100000000000100000000000";
    MarkerHost program(config);
    program.synchronized = true;
    program.ticks = "100001000000100000000000";
    program.command = "KZ";
    ASSERT_TRUE(program.engine.Start(LinkMode::Program));
    program.beacon.SwitchOn();
    program.Run();
    ASSERT_EQ(program.sent, "yKZnys25\rn");
    for (const char* marker : {"Command: Program\r", "SendX\r", "Answer no ProgramGPS\r", "ProgramGPS2\r",
                               "ProgramGPS3\r", "Sending Slot Time 25\r"}) {
        EXPECT_EQ(program.seen.count(marker), 1u) << QByteArray(marker).replace('\r', "<CR>").toStdString();
    }
    EXPECT_TRUE(program.engine.ReceivedText().startsWith("GPS Verified"));

    MarkerHost read(config);
    read.synchronized = true;
    ASSERT_TRUE(read.engine.Start(LinkMode::Read));
    read.beacon.SwitchOn();
    read.Run();
    ASSERT_EQ(read.sent, "nn");
    EXPECT_EQ(read.seen.count("Command: \r"), 1u);
    EXPECT_TRUE(std::any_of(read.seen.begin(), read.seen.end(),
                            [](const QByteArray& text) { return text.startsWith("Command: ReadGPS\r"); }));
}
