// The simulator over a real pseudo-terminal, with the test as the tool on the slave side.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/PtyPeer.h"
#include "tools/sim/BeaconSimulator.h"

using namespace zbsim;
using namespace zbsim_test;

namespace {

const std::string kQuestion = "Change program? y/n\r\n";

struct Running {
    explicit Running(BeaconOptions options) : sim(std::move(options)) {
        std::string error;
        started = sim.Start(&error);
        EXPECT_TRUE(started) << error;
        EXPECT_EQ(sim.DevicePath().rfind("/dev/", 0), 0u) << sim.DevicePath();
    }
    BeaconSimulator sim;
    bool started = false;
};

BeaconOptions Fast(bool synchronized = false) {
    BeaconOptions options;
    options.synchronized = synchronized;
    options.charDelayUs = 0;
    return options;
}

std::vector<TranscriptEntry> Entries(const BeaconSimulator& sim, Direction direction) {
    std::vector<TranscriptEntry> some;
    for (const TranscriptEntry& e : sim.Transcript()) {
        if (e.direction == direction) some.push_back(e);
    }
    return some;
}

bool HasNote(const BeaconSimulator& sim, const std::string& part) {
    for (const TranscriptEntry& e : Entries(sim, Direction::Note)) {
        if (e.bytes.find(part) != std::string::npos) return true;
    }
    return false;
}

// CPU time the process burns over a quiet third of a second: a spinning worker would take it all.
// (A fixed wait is the point here: there is no event to wait for when nothing should happen.)
double CpuOverQuietWindow() {
    const double before = ProcessCpuSeconds();
    ::poll(nullptr, 0, 300);
    return ProcessCpuSeconds() - before;
}

}  // namespace

TEST(BeaconSimulator, SwitchOnTextArrivesAtTheSerialPace) {
    {
        // About 1 ms per character: the 33 bytes cannot all be there before 32 ms have passed.
        Running run{BeaconOptions{}};
        PtyPeer tool(run.sim.DevicePath());
        ASSERT_TRUE(tool.IsOpen());
        EXPECT_EQ(run.sim.State(), "Off");
        const int64_t start = SteadyNs();
        run.sim.SwitchOn();
        ASSERT_TRUE(tool.Expect("PSDvvvSQSZ\r\n" + kQuestion));
        const double seconds = static_cast<double>(SteadyNs() - start) / 1e9;
        EXPECT_GE(seconds, 0.032);
        EXPECT_LT(seconds, 5.0);
        EXPECT_EQ(tool.Data(), "PSDvvvSQSZ\r\n" + kQuestion);  // nothing before the program
        EXPECT_EQ(run.sim.State(), "ChangeQuestion");
    }
    {
        // At 10 ms per character the text visibly trickles in over several reads.
        BeaconOptions slow;
        slow.charDelayUs = 10'000;
        slow.program = "AZ";
        Running run{slow};
        PtyPeer tool(run.sim.DevicePath());
        const int64_t start = SteadyNs();
        run.sim.SwitchOn();
        ASSERT_TRUE(tool.Expect(kQuestion));
        EXPECT_GE(static_cast<double>(SteadyNs() - start) / 1e9, 0.24);
        EXPECT_GE(tool.Reads().size(), 3u);
        // Written a character or two at a time; a loaded machine may hold the writer up, and it then
        // catches up with a few characters at once, so only most of the writes are counted.
        const size_t total = 4 + kQuestion.size();  // "AZ" CR LF and the question
        EXPECT_GE(Entries(run.sim, Direction::ToTool).size(), total / 3);
    }
}

TEST(BeaconSimulator, ChunkedOutputArrivesInPiecesWithGaps) {
    BeaconOptions options;
    options.program = "AZ";
    options.chunkSize = 3;
    options.chunkGapMs = 60;
    Running run{options};
    PtyPeer tool(run.sim.DevicePath());
    run.sim.SwitchOn();
    ASSERT_TRUE(tool.Expect("AZ\r\n" + kQuestion));

    const std::vector<TranscriptEntry> writes = Entries(run.sim, Direction::ToTool);
    ASSERT_EQ(writes.size(), 9u);  // 25 bytes in pieces of 3
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_LE(writes[i].bytes.size(), 3u);
        // "y/n" CR LF never arrives in one piece with this chunking.
        EXPECT_EQ(writes[i].bytes.find("y/n"), std::string::npos);
        if (i > 0) {
            EXPECT_GE(writes[i].monotonicNs - writes[i - 1].monotonicNs, 60000000);
        }
    }
    EXPECT_GE(tool.Reads().size(), 2u);
}

TEST(BeaconSimulator, AnswersDriveAFullSynchronizedConversation) {
    Running run{Fast(true)};
    std::mutex mutex;
    std::vector<TranscriptEntry> sunk;
    std::thread::id sinkThread;
    run.sim.SetTranscriptSink([&](const TranscriptEntry& e) {
        std::lock_guard lock(mutex);
        sunk.push_back(e);
        sinkThread = std::this_thread::get_id();
    });
    PtyPeer tool(run.sim.DevicePath());
    run.sim.SwitchOn();
    ASSERT_TRUE(tool.Expect(kQuestion));
    ASSERT_TRUE(tool.Send("x"));  // a stray byte: ignored and logged
    ASSERT_TRUE(tool.Send("y"));
    ASSERT_TRUE(tool.Expect("Enter new program, end by Z.\r\n"));
    for (char c : std::string("NEWZ"))
        ASSERT_TRUE(tool.Send(std::string(1, c)));
    ASSERT_TRUE(tool.Expect("\r\nChg msg? y/n\r\n"));
    ASSERT_TRUE(tool.Send("n"));
    ASSERT_TRUE(tool.Expect("55 sec 0 0\r\nChange GPS? y/n\r\n"));
    ASSERT_TRUE(tool.Send("y"));
    ASSERT_TRUE(tool.Expect("s/c\r\n"));
    ASSERT_TRUE(tool.Send("s"));
    ASSERT_TRUE(tool.Expect("sec? "));
    ASSERT_TRUE(tool.Send("35\r"));
    ASSERT_TRUE(tool.Expect("35 sec 1 0\r\n"));
    ASSERT_TRUE(tool.Expect("Change GPS? y/n\r\n"));
    ASSERT_TRUE(tool.Send("n"));
    ASSERT_TRUE(tool.Expect("Beacon running\r\n"));

    EXPECT_EQ(run.sim.StoredProgram(), "NEWZ");
    EXPECT_EQ(run.sim.Slots(), "100000010000100000000000");
    EXPECT_EQ(run.sim.State(), "Beaconing");
    EXPECT_EQ(run.sim.Received(), "xyNEWZnys35\rn");
    EXPECT_TRUE(HasNote(run.sim, "ignored x (ChangeQuestion)"));

    const std::vector<AnswerDelay> log = run.sim.AnswerLog();
    const std::vector<Prompt> expected = {Prompt::ChangeProgram, Prompt::EnterProgram, Prompt::ChangeMessage,
                                          Prompt::ChangeSlots,   Prompt::SetOrClear,   Prompt::SlotTime,
                                          Prompt::ChangeSlots};
    ASSERT_EQ(log.size(), expected.size());
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].prompt, expected[i]) << i;
        EXPECT_GE(log[i].seconds, 0.0);
        EXPECT_LT(log[i].seconds, 10.0);
    }
    EXPECT_EQ(run.sim.AnswerDelays().size(), log.size());

    // The sink saw the transcript as it grew, in order, on the worker thread. Stopping delivers the rest.
    run.sim.Stop();
    std::lock_guard lock(mutex);
    const std::vector<TranscriptEntry> all = run.sim.Transcript();
    ASSERT_EQ(sunk.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(sunk[i].bytes, all[i].bytes);
    EXPECT_NE(sinkThread, std::this_thread::get_id());
}

TEST(BeaconSimulator, AnswerDelayIsMeasuredFromTheEndOfTheQuestion) {
    Running run{BeaconOptions{}};
    PtyPeer tool(run.sim.DevicePath());
    run.sim.SwitchOn();
    ASSERT_TRUE(tool.Expect(kQuestion));
    // The tool's own pause before it answers (the thing being measured).
    const int64_t seen = SteadyNs();
    ::poll(nullptr, 0, 200);
    ASSERT_TRUE(tool.Send("n"));
    const int64_t sent = SteadyNs();
    ASSERT_TRUE(tool.Expect("Beacon running\r\n"));
    const std::vector<double> delays = run.sim.AnswerDelays();
    ASSERT_EQ(delays.size(), 1u);
    // The simulator stamps the question's end just after its write returns, which a loaded machine can
    // delay past the moment the tool saw it: the lower bound leaves room for that.
    EXPECT_GE(delays[0], 0.1);
    // It cannot be longer than from before the question was complete to after the answer was sent.
    EXPECT_LE(delays[0], static_cast<double>(sent - seen) / 1e9 + 2.0);
}

TEST(BeaconSimulator, ToolClosingAndReopeningThePortKeepsTheBeaconWorking) {
    Running run{Fast()};
    const std::string path = run.sim.DevicePath();
    {
        PtyPeer tool(path);
        run.sim.SwitchOn();
        ASSERT_TRUE(tool.Expect(kQuestion));
    }
    // Nobody has the port open: the beacon still talks into the line and does not spin.
    run.sim.SwitchOn();
    EXPECT_LT(CpuOverQuietWindow(), 0.15);
    EXPECT_EQ(run.sim.DevicePath(), path);

    PtyPeer tool(path);
    ASSERT_TRUE(tool.IsOpen());
    tool.Purge();
    run.sim.SwitchOn();
    ASSERT_TRUE(tool.Expect("PSDvvvSQSZ\r\n" + kQuestion));
    ASSERT_TRUE(tool.Send("n"));
    ASSERT_TRUE(tool.Expect("Beacon running\r\n"));
    EXPECT_EQ(run.sim.State(), "Beaconing");
}

TEST(BeaconSimulator, PulledAdapterHangsUpTheToolAndAReplugGivesANewIdleDevice) {
    BeaconOptions slow;
    slow.charDelayUs = 50'000;  // still printing when the adapter goes
    Running run{slow};
    const std::string oldPath = run.sim.DevicePath();
    PtyPeer tool(oldPath);
    run.sim.SwitchOn();
    ASSERT_TRUE(tool.Expect("PS"));

    run.sim.PullAdapter();
    const short revents = tool.WaitForHangUp();
    EXPECT_NE(revents & (POLLHUP | POLLERR), 0) << revents;
    char byte;
    const ssize_t n = ::read(tool.Fd(), &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    EXPECT_EQ(run.sim.DevicePath(), "");
    EXPECT_EQ(run.sim.State(), "Off");
    EXPECT_TRUE(HasNote(run.sim, "adapter pulled"));
    // Switching on without an adapter loses the output quietly; the worker does not spin.
    run.sim.SwitchOn();
    EXPECT_LT(CpuOverQuietWindow(), 0.15);
    run.sim.PullAdapter();  // twice is harmless

    std::string error;
    ASSERT_TRUE(run.sim.ReplugAdapter(&error)) << error;
    const std::string newPath = run.sim.DevicePath();
    EXPECT_NE(newPath, "");
    EXPECT_NE(newPath, oldPath);  // the old device is still held open by the old tool descriptor
    EXPECT_EQ(run.sim.State(), "Off");
    PtyPeer again(newPath);
    ASSERT_TRUE(again.IsOpen());
    run.sim.SwitchOn();
    ASSERT_TRUE(again.Expect(kQuestion));
    EXPECT_EQ(again.Data(), "PSDvvvSQSZ\r\n" + kQuestion);
}

TEST(BeaconSimulator, StopAndDestructionJoinWhileTheWorkerIsBlocked) {
    // Idle: the worker sleeps in poll() without a time-out.
    {
        Running run{BeaconOptions{}};
        const int64_t start = SteadyNs();
        run.sim.Stop();
        EXPECT_LT(SteadyNs() - start, 5'000'000'000);
        EXPECT_EQ(run.sim.DevicePath(), "");
        run.sim.Stop();  // a second Stop does nothing
        // The simulator can be started again on a new device.
        std::string error;
        ASSERT_TRUE(run.sim.Start(&error)) << error;
        EXPECT_FALSE(run.sim.Start(&error));
        EXPECT_FALSE(error.empty());
    }
    // In the middle of slow output: the worker sleeps in a timed wait between characters.
    {
        BeaconOptions slow;
        slow.charDelayUs = 2'000'000;
        auto run = std::make_unique<Running>(slow);
        PtyPeer tool(run->sim.DevicePath());
        run->sim.SwitchOn();
        ASSERT_TRUE(tool.Expect("P"));
        const int64_t start = SteadyNs();
        run.reset();
        EXPECT_LT(SteadyNs() - start, 1'500'000'000);
    }
    // A pull waiting for the worker, and a simulator that never started.
    {
        Running run{BeaconOptions{}};
        std::thread puller([&] { run.sim.PullAdapter(); });
        puller.join();
        EXPECT_EQ(run.sim.DevicePath(), "");
        BeaconSimulator never{BeaconOptions{}};
        never.SwitchOn();
        EXPECT_EQ(never.State(), "ChangeQuestion");
    }
}

TEST(BeaconSimulator, AToolThatNeverReadsBlocksTheBeaconQuietlyUntilTheLineIsFree) {
    // A long program printed again and again into a port that nobody reads fills the pseudo-terminal
    // until the beacon can write no more. It must then wait without spinning, drop what overflows its
    // input buffer, go on once the line is free again, and stop at once whenever asked.
    BeaconOptions options = Fast();
    options.program = std::string(4000, 'A');
    Running run{options};
    PtyPeer tool(run.sim.DevicePath());
    auto written = [&] {
        size_t total = 0;
        for (const TranscriptEntry& e : Entries(run.sim, Direction::ToTool))
            total += e.bytes.size();
        return total;
    };
    const size_t perSwitchOn = options.program.size() + 2 + kQuestion.size();
    bool blocked = false;
    for (int i = 0; i < 200 && !blocked; ++i) {
        const size_t target = written() + perSwitchOn;
        run.sim.SwitchOn();
        // Wait for the whole text to be written; if it stalls for a second, the line is full.
        const int64_t deadline = SteadyNs() + 1'000'000'000;
        while (written() < target && SteadyNs() < deadline)
            ::poll(nullptr, 0, 1);
        blocked = written() < target;
    }
    ASSERT_TRUE(blocked) << written();

    // The tool's bytes are buffered while the beacon is stuck in its output; beyond 4096 they are lost.
    ASSERT_TRUE(tool.Send(std::string(5000, 'x')));
    const int64_t deadline = SteadyNs() + 10'000'000'000;
    while (!HasNote(run.sim, "input buffer is full") && SteadyNs() < deadline)
        ::poll(nullptr, 0, 1);
    EXPECT_TRUE(HasNote(run.sim, "input buffer is full"));
    EXPECT_LT(CpuOverQuietWindow(), 0.15);

    // The tool opens the port afresh and purges it, and the beacon is switched on again: it is no longer
    // stuck and prints its text to the end. (Switching on again keeps this independent of how much of
    // the old text was still waiting when the purge came, which a busy machine makes vary.)
    tool.Purge();
    run.sim.SwitchOn();
    ASSERT_TRUE(tool.Expect(kQuestion));
    const int64_t start = SteadyNs();
    run.sim.Stop();
    EXPECT_LT(SteadyNs() - start, 2'000'000'000);
}

TEST(BeaconSimulator, TheSinkMayPullTheAdapterAndStopTheSimulator) {
    Running run{Fast()};
    std::atomic<bool> acted{false};
    run.sim.SetTranscriptSink([&](const TranscriptEntry& e) {
        if (e.direction == Direction::ToTool && e.bytes.find("y/n") != std::string::npos && !acted) {
            acted = true;
            run.sim.PullAdapter();
            run.sim.Stop();
            (void)run.sim.State();
        }
    });
    PtyPeer tool(run.sim.DevicePath());
    run.sim.SwitchOn();
    EXPECT_NE(tool.WaitForHangUp() & (POLLHUP | POLLERR), 0);
    EXPECT_TRUE(acted);
    // Whatever the worker was doing, a pull from here and the final join neither hang nor crash.
    run.sim.PullAdapter();
    run.sim.Stop();
    EXPECT_EQ(run.sim.State(), "Off");
}

TEST(BeaconSimulator, GettersAreSafeWhileTheWorkerRuns) {
    Running run{Fast(true)};
    PtyPeer tool(run.sim.DevicePath());
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            (void)run.sim.State();
            (void)run.sim.Transcript();
            (void)run.sim.Received();
            (void)run.sim.Slots();
            (void)run.sim.AnswerDelays();
        }
    });
    for (int i = 0; i < 5; ++i) {
        run.sim.SwitchOn();
        ASSERT_TRUE(tool.Expect(kQuestion));
        ASSERT_TRUE(tool.Send("n"));
        ASSERT_TRUE(tool.Expect("GPS? y/n\r\n"));
        ASSERT_TRUE(tool.Send("n"));
        ASSERT_TRUE(tool.Expect("Beacon running\r\n"));
    }
    done = true;
    reader.join();
    EXPECT_EQ(run.sim.AnswerDelays().size(), 10u);
}

TEST(BeaconSimulator, RejectsUnusableOptions) {
    BeaconOptions options;
    EXPECT_EQ(CheckOptions(options), "");
    options.charDelayUs = -1;
    EXPECT_NE(CheckOptions(options), "");
    EXPECT_THROW(BeaconSimulator{options}, std::invalid_argument);
    options = BeaconOptions{};
    options.chunkGapMs = kMaxChunkGapMs + 1;
    EXPECT_NE(CheckOptions(options), "");
    options = BeaconOptions{};
    options.slotTable = "1";
    EXPECT_NE(CheckOptions(options), "");
}
