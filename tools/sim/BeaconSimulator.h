#pragma once
// A beacon on a pseudo-terminal: the tool opens the slave device as its serial port and talks to
// BeaconLogic through it. One worker thread sleeps in poll() on the master side and a wake pipe,
// writes the beacon's output at the serial pace and feeds the tool's bytes to the logic.
//
// Every public method is safe to call from any thread while the worker runs. The transcript sink is
// called on the worker thread, one entry at a time and in order; it may call the getters,
// SwitchOn, PullAdapter and ReplugAdapter, but must not replace the sink itself.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/sim/BeaconLogic.h"
#include "tools/sim/Transcript.h"

namespace zbsim {

struct BeaconOptions {
    bool synchronized = false;
    std::string program = "PSDvvvSQSZ";
    std::string slotTable = "100000000000100000000000";
    int charDelayUs = 1000;    // time per character: about 1 ms at 9600 baud; 0 writes as fast as possible
    size_t chunkSize = 0;      // write the output in pieces of this many bytes; 0 = character by character
    int chunkGapMs = 0;        // extra pause after each piece (only with a chunk size)
    bool echo = false;         // echo the bytes of a new message
    std::string powerUpNoise;  // bytes on the line at switch-on, before the stored program
    bool bareCr = false;       // the program and listing lines end with CR alone
    // A symbolic link to the device under this name while an adapter is plugged in (empty: none), so
    // that a restarted simulator or a replugged adapter comes back under the same name.
    std::string linkPath;
    // Keep every transcript entry for Transcript(). A long run that never asks for it turns this off,
    // so that the simulator's memory stays the same from dialogue to dialogue.
    bool keepTranscript = true;
};

// Limits of the pacing options, so that a typing slip cannot freeze the beacon for hours.
constexpr int kMaxCharDelayUs = 10'000'000;
constexpr int kMaxChunkGapMs = 60'000;
constexpr size_t kMaxChunkSize = 65'536;

// Empty when the options are usable, else a sentence saying what is wrong.
std::string CheckOptions(const BeaconOptions& options);

class BeaconSimulator {
public:
    // Throws std::invalid_argument when CheckOptions finds a fault.
    explicit BeaconSimulator(BeaconOptions options);
    ~BeaconSimulator();  // stops the worker and closes the pseudo-terminal

    BeaconSimulator(const BeaconSimulator&) = delete;
    BeaconSimulator& operator=(const BeaconSimulator&) = delete;

    // Opens the pseudo-terminal and starts the worker. The beacon stays off until SwitchOn.
    bool Start(std::string* error);
    // The slave device the tool opens, e.g. /dev/pts/4; empty while no adapter is plugged in. The
    // link of BeaconOptions::linkPath, when given, points at it.
    std::string DevicePath() const;
    // Power cycle: the conversation starts again with the stored program.
    void SwitchOn();
    // Stops the worker and closes the pseudo-terminal; the getters keep their values.
    void Stop();
    // Closes the pseudo-terminal as if the serial adapter were pulled: the tool's side sees a hang-up.
    // The conversation goes idle.
    void PullAdapter();
    // A new pseudo-terminal (a new device path); the conversation is idle until the next SwitchOn.
    bool ReplugAdapter(std::string* error);

    std::string StoredProgram() const;
    std::string Slots() const;
    std::string State() const;     // the conversation state, e.g. "ChangeQuestion" (StateName)
    std::string Received() const;  // every byte received from the tool since the start
    std::vector<TranscriptEntry> Transcript() const;
    // Seconds from the last byte of each question to the first byte of its answer, in order.
    std::vector<double> AnswerDelays() const;
    // The same with the question each delay belongs to.
    std::vector<AnswerDelay> AnswerLog() const;
    // Called on the worker thread for every new transcript entry; an empty function removes it.
    // Waits until a call of the previous sink has returned.
    void SetTranscriptSink(std::function<void(const TranscriptEntry&)> sink);

private:
    struct InputByte {
        unsigned char byte;
        int64_t timeNs;
    };

    void Run();
    bool OnWorkerThread() const;
    void Wake();  // with mutex_ held
    bool OpenPtyLocked(std::string* error);
    void ClosePtyLocked();
    void LoseAdapterLocked(const std::string& reason);
    void IdleLocked();  // the conversation goes back to Off with nothing pending
    void PumpLocked();
    void FeedLocked(const InputByte& input);
    void FlushIgnoredLocked();
    void EnqueueOutputLocked();
    void WriteDueLocked(int64_t now);
    void ReadFromToolLocked();
    void RecordLocked(Direction direction, std::string bytes, int64_t timeNs);
    void NoteLocked(std::string text);
    int PollTimeoutLocked(int64_t now) const;
    void DeliverToSink();

    const BeaconOptions options_;
    const int64_t originNs_;

    mutable std::mutex mutex_;
    std::condition_variable pulled_;
    BeaconLogic logic_;
    std::deque<OutputPiece> queue_;  // output waiting to be written; the front piece is partly written
    size_t frontOffset_ = 0;
    std::deque<InputByte> input_;  // received bytes the beacon has not read yet
    std::string ignoredRun_;       // consecutive ignored bytes, reported as one note
    BeaconState ignoredState_ = BeaconState::Off;
    int64_t nextDueNs_ = 0;
    bool writeBlocked_ = false;  // the tool's side is full; wait for POLLOUT
    Prompt pendingPrompt_ = Prompt::None;
    int64_t promptEndNs_ = 0;

    int master_ = -1;
    int slaveKeep_ = -1;  // our own slave descriptor: the tool's close never hangs the master up
    std::string path_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread worker_;
    bool running_ = false;
    bool stopRequested_ = false;
    bool workerDone_ = false;  // the worker has left its loop and polls no more
    bool pullRequested_ = false;
    uint64_t pullsDone_ = 0;

    std::string received_;
    std::vector<TranscriptEntry> transcript_;
    size_t recordedBytes_ = 0;
    bool recordFull_ = false;
    std::vector<AnswerDelay> delays_;
    std::deque<TranscriptEntry> sinkQueue_;
    bool hasSink_ = false;

    std::mutex sinkMutex_;  // held while the sink runs
    std::function<void(const TranscriptEntry&)> sink_;
};

}  // namespace zbsim
