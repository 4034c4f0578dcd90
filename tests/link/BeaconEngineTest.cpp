// The beacon engine on its own: no window, no port, no clock. The simulator's beacon logic answers,
// every pause takes no time, and the beacon's text arrives in chunks of every size.
#include <gtest/gtest.h>

#include "support/FakeBeaconHost.h"

namespace {

zbsim::BeaconConfig Beacon(bool synchronized, std::string table = "100000000000100000000000") {
    zbsim::BeaconConfig config;
    config.synchronized = synchronized;
    config.slotTable = std::move(table);
    return config;
}

}  // namespace

// A synchronized Program, whatever the chunking: the message stored, one slot changed per exchange
// (lowest first), each answer after its designed pause, and the dialogue idle at the end.
TEST(BeaconEngine, SynchronizedProgramIsTheSameForEveryChunking) {
    for (size_t chunk : {0u, 1u, 2u, 3u, 7u, 64u}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        FakeBeaconHost host(Beacon(true, "100100000000100000000000"));
        host.chunk = chunk;
        host.synchronized = true;
        host.ticks = "100000100000100000000000";
        host.command = "BK\r\nvvUZ";
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        EXPECT_EQ(host.caption, "Check jumper. Turn beacon off and then on.");
        EXPECT_EQ(host.status, "Ready to program beacon");
        host.beacon.SwitchOn();
        host.Run();

        EXPECT_EQ(host.sent, "yBKvvUZnyc15\rys30\rn");
        EXPECT_EQ(host.beacon.StoredProgram(), "BKvvUZ");
        EXPECT_EQ(host.beacon.Slots(), "100000100000100000000000");
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
        EXPECT_EQ(host.engine.SlotSeconds(), 30);
        EXPECT_TRUE(host.engine.ReceivedText().startsWith("GPS Verified"));
        EXPECT_EQ(host.caption, "Set Slot 30");
        EXPECT_FALSE(host.busy);
        // Answers: y, n, y, c, 15 CR, y, s, 30 CR, n.
        EXPECT_EQ(host.answers, 9);
        const std::vector<double> upload(8, 0.1);  // one per memo character, the line break's two included
        std::vector<double> expected{1};
        expected.insert(expected.end(), upload.begin(), upload.end());
        for (double p : {1.0, 1.0, 0.5, 0.4, 0.1, 0.1, 0.1, 1.0, 0.5, 0.4, 0.1, 0.1, 0.1, 1.0})
            expected.push_back(p);
        EXPECT_EQ(host.pauses, expected);
    }
}

// Read and Verify of both kinds of beacon, and what the dialogue does once an operation is over.
TEST(BeaconEngine, ReadVerifyAndTheQuietAfterwards) {
    {
        SCOPED_TRACE("read, normal beacon");
        FakeBeaconHost host(Beacon(false));
        host.chunk = 5;
        ASSERT_TRUE(host.engine.Start(LinkMode::Read));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.command, "PSDvvvSQSZ");
        EXPECT_EQ(host.sent, "n");
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
        EXPECT_EQ(host.engine.ReceivedText(), "Command: \rBeacon running\r\n");
        EXPECT_EQ(host.rebuilds, 1);
        EXPECT_EQ(host.caption, "");
    }
    {
        SCOPED_TRACE("read, synchronized beacon");
        FakeBeaconHost host(Beacon(true, "001000000001000000000010"));
        host.synchronized = true;
        ASSERT_TRUE(host.engine.Start(LinkMode::Read));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "nn");
        EXPECT_EQ(host.Ticks(), "001000000001000000000010");
        EXPECT_EQ(host.notices, QStringList{"GPS Menu set to programmed beacon slots"});
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
    }
    {
        SCOPED_TRACE("verify, synchronized beacon with other slots; the option ticks itself");
        FakeBeaconHost host(Beacon(true));
        host.command = "PSDvvv\r\nSQSZ";
        host.ticks[5] = '1';
        ASSERT_TRUE(host.engine.Start(LinkMode::Verify));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "nn");
        EXPECT_TRUE(host.synchronized);
        EXPECT_EQ(host.caption, "Beacon Sequence OK - GPS Slot Error");
        EXPECT_EQ(host.look, TellLook::Progress);
    }
    {
        SCOPED_TRACE("verify started while the beacon asks its slot question: answered once");
        FakeBeaconHost host(Beacon(true));
        host.command = "PSDvvvSQSZ";
        ASSERT_TRUE(host.engine.Start(LinkMode::Verify));
        host.pending = "PSDvvvSQSZ\r\n55 sec 0 0\r\nChange GPS? y/n\r\n";
        host.Deliver();
        host.pending = "Beacon running\r\n";
        host.Deliver();
        EXPECT_EQ(host.sent, "n");
        EXPECT_EQ(host.caption, "Beacon Sequence OK");
        EXPECT_EQ(host.engine.Mode(), LinkMode::VerifyGPS);
    }
    {
        SCOPED_TRACE("program of a normal beacon, then the beacon switched on again");
        FakeBeaconHost host(Beacon(false));
        host.command = "KZ";
        host.ticks[3] = '1';  // differs from any slot table
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "yKZn");
        EXPECT_EQ(host.engine.Mode(), LinkMode::ProgramGPS);
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "yKZn");
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
        EXPECT_EQ(host.beacon.State(), zbsim::BeaconState::ChangeQuestion);
    }
}

// An operation started during an answer's pause owns the dialogue from then on: the interrupted rule
// sends nothing, and the slot steps stop between the digits of the time.
TEST(BeaconEngine, AStartDuringAPauseStopsTheInterruptedRule) {
    FakeBeaconHost host(Beacon(true, "000000000000000000000000"));
    host.synchronized = true;
    host.ticks = QByteArray(24, '0');
    host.ticks[23] = '1';  // slot time 115: three characters
    host.command = "KZ";
    ASSERT_TRUE(host.engine.Start(LinkMode::Program));
    host.beacon.SwitchOn();
    host.duringPause = [&] {
        if (host.sent == "yKZnys1") host.engine.Start(LinkMode::Verify);
    };
    host.Run();
    EXPECT_EQ(host.sent, "yKZnys1");
    EXPECT_EQ(host.engine.Mode(), LinkMode::Verify);
    EXPECT_EQ(host.engine.ReceivedText(), "");
    EXPECT_EQ(host.caption, "Check jumper. Turn beacon off and then on.");
}

// More text after a question, arriving while its answer's pause runs (a line break, a stray byte), is
// handled inside the pause and must not answer the same question again: every operation sends exactly
// what it sends without it. A second y to the first question would become part of the new message.
TEST(BeaconEngine, TextDuringAnAnswersPauseGetsNoSecondAnswer) {
    for (LinkMode mode : {LinkMode::Read, LinkMode::Program, LinkMode::Verify}) {
        for (bool synchronized : {false, true}) {
            SCOPED_TRACE(LinkModeName(mode).toStdString() + (synchronized ? ", synchronized" : ""));
            auto run = [&](bool noise) {
                FakeBeaconHost host(Beacon(synchronized));
                host.synchronized = synchronized;
                host.ticks[6] = '1';  // one slot to set
                host.command = "PSDvvvSQSZ";
                int extra = 0;
                host.duringPause = [&] {
                    if (noise && extra < 100) {
                        ++extra;
                        host.pending += extra % 2 ? "\r\n" : " ";
                    }
                };
                EXPECT_TRUE(host.engine.Start(mode));
                host.beacon.SwitchOn();
                host.Run();
                return std::make_pair(host.sent, host.beacon.StoredProgram());
            };
            const auto quiet = run(false);
            EXPECT_EQ(run(true), quiet);
            EXPECT_EQ(quiet.second, "PSDvvvSQSZ");
        }
    }
}

// What the hosts are told as facts: the Verify's comparison (where the texts part, both texts), the
// slot comparison, the upload's progress and end, and whether the operation is over or a slot listing
// may yet follow from a beacon not known to be synchronized.
TEST(BeaconEngine, OutcomesAreToldAsFacts) {
    struct Host : FakeBeaconHost {
        using FakeBeaconHost::FakeBeaconHost;
        void OnSequenceChecked(const SequenceCheck& check) override { sequence = check; }
        void OnSlotsChecked(const SlotCheck& check) override { slotCheck = check; }
        void OnUploadProgress(qsizetype sent, qsizetype total) override {
            events << QString("%1/%2").arg(sent).arg(total);
        }
        void OnUploadEnded(qsizetype sent, bool complete) override {
            events << QString("ended %1 %2").arg(sent).arg(complete ? "complete" : "cut short");
        }
        void OnSlotStep(bool set, int seconds) override {
            events << QString(set ? "set %1" : "clear %1").arg(seconds);
        }
        void OnListingMayFollow() override { events << "listing may follow"; }
        void OnOperationOver(LinkMode operation) override { events << "over " + LinkModeName(operation); }
        SequenceCheck sequence;
        SlotCheck slotCheck;
        QStringList events;
    };
    {
        SCOPED_TRACE("verify of a normal beacon that holds another message");
        Host host(Beacon(false));
        host.command = "PSDvv\r\nSQSZ";
        ASSERT_TRUE(host.engine.Start(LinkMode::Verify));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_FALSE(host.sequence.matched);
        EXPECT_EQ(host.sequence.firstDifference, 5);
        EXPECT_EQ(host.sequence.beaconText, "PSDvvvSQSZ");
        EXPECT_EQ(host.sequence.fileText, "PSDvvSQSZ");
        EXPECT_EQ(host.events, QStringList{"listing may follow"});
    }
    {
        SCOPED_TRACE("verify of a synchronized beacon whose slots differ");
        Host host(Beacon(true, "100000000000100000000000"));
        host.synchronized = true;
        host.ticks = "100001000000000000000000";
        host.command = "PSDvvvSQSZ";
        ASSERT_TRUE(host.engine.Start(LinkMode::Verify));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_TRUE(host.sequence.matched);
        EXPECT_EQ(host.sequence.firstDifference, -1);
        EXPECT_FALSE(host.slotCheck.verified);
        EXPECT_EQ(host.slotCheck.differing, QList<int>({5, 12}));
        EXPECT_EQ(host.events, QStringList{"over Verify"});
    }
    {
        SCOPED_TRACE("program of a synchronized beacon");
        Host host(Beacon(true, "100000000000100000000000"));
        host.synchronized = true;
        host.ticks = "100001000000100000000000";
        host.command = "KZ";
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.events, QStringList({"1/2", "2/2", "ended 2 complete", "set 25", "over Program"}));
        EXPECT_TRUE(host.slotCheck.verified);
    }
    {
        SCOPED_TRACE("program of a normal beacon");
        Host host(Beacon(false));
        host.command = "K\r\nZ";
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        // The question after the message is answered inside the upload's last pause.
        EXPECT_EQ(host.events, QStringList({"1/4", "2/4", "3/4", "4/4", "listing may follow",
                                            "ended 2 complete", "listing may follow"}));
    }
}
