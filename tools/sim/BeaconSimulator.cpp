#include "tools/sim/BeaconSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zbsim {

namespace {

// Bytes the beacon buffers from the tool while it is still printing; more are lost, as in a UART.
constexpr size_t kMaxInputBacklog = 4096;
// Beyond this many recorded bytes the transcript and Received() stop growing (a runaway peer).
constexpr size_t kMaxRecordedBytes = 64u << 20;
constexpr size_t kReadBlock = 4096;
constexpr int kMaxReadsPerWake = 16;
constexpr size_t kMaxWriteBlock = 4096;
constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerMs = 1000 * 1000;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string ErrnoText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

bool SetFdFlags(int fd) {
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0) return false;
    const int fd_flags = fcntl(fd, F_GETFD);
    return fd_flags >= 0 && fcntl(fd, F_SETFD, fd_flags | FD_CLOEXEC) >= 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Points the symbolic link `link` at `target`, replacing an older link of that name in one step (a new
// link beside it, then a rename), so that a watcher never sees the name missing or half made.
bool PlaceLink(const std::string& link, const std::string& target, std::string* error) {
    struct stat existing {};
    if (::lstat(link.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        if (error) *error = link + " exists and is not a symbolic link";
        return false;
    }
    const std::string temporary = link + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        if (error) *error = ErrnoText(("cannot create the link " + link).c_str(), errno);
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        if (error) *error = ErrnoText(("cannot create the link " + link).c_str(), errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

BeaconOptions Checked(BeaconOptions options) {
    std::string fault = CheckOptions(options);
    if (!fault.empty()) throw std::invalid_argument(fault);
    return options;
}

BeaconConfig ConfigOf(const BeaconOptions& options) {
    BeaconConfig config;
    config.synchronized = options.synchronized;
    config.program = options.program;
    config.slotTable = options.slotTable;
    config.echo = options.echo;
    config.powerUpNoise = options.powerUpNoise;
    config.bareCr = options.bareCr;
    return config;
}

}  // namespace

std::string CheckOptions(const BeaconOptions& options) {
    std::string fault = BeaconLogic::CheckConfig(ConfigOf(options));
    if (!fault.empty()) return fault;
    if (options.charDelayUs < 0 || options.charDelayUs > kMaxCharDelayUs) {
        return "the character delay must be between 0 and " + std::to_string(kMaxCharDelayUs) +
               " microseconds";
    }
    if (options.chunkSize > kMaxChunkSize) {
        return "the chunk size must be between 0 and " + std::to_string(kMaxChunkSize) + " bytes";
    }
    if (options.chunkGapMs < 0 || options.chunkGapMs > kMaxChunkGapMs) {
        return "the chunk gap must be between 0 and " + std::to_string(kMaxChunkGapMs) + " milliseconds";
    }
    return {};
}

BeaconSimulator::BeaconSimulator(BeaconOptions options)
    : options_(Checked(std::move(options))), originNs_(NowNs()), logic_(ConfigOf(options_)) {}

BeaconSimulator::~BeaconSimulator() {
    Stop();
    std::lock_guard lock(mutex_);
    ClosePtyLocked();
}

bool BeaconSimulator::Start(std::string* error) {
    std::lock_guard lock(mutex_);
    if (running_ || worker_.joinable()) {
        if (error) *error = "the simulator is already running";
        return false;
    }
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        if (error) *error = ErrnoText("cannot create the wake pipe", errno);
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    if (!SetFdFlags(wakeRead_) || !SetFdFlags(wakeWrite_)) {
        if (error) *error = ErrnoText("cannot configure the wake pipe", errno);
        CloseFd(wakeRead_);
        CloseFd(wakeWrite_);
        return false;
    }
    if (master_ < 0 && !OpenPtyLocked(error)) {
        CloseFd(wakeRead_);
        CloseFd(wakeWrite_);
        return false;
    }
    stopRequested_ = false;
    workerDone_ = false;
    running_ = true;
    try {
        worker_ = std::thread(&BeaconSimulator::Run, this);
    } catch (const std::system_error& e) {
        running_ = false;
        if (error) *error = std::string("cannot start the worker thread: ") + e.what();
        ClosePtyLocked();
        CloseFd(wakeRead_);
        CloseFd(wakeWrite_);
        return false;
    }
    return true;
}

void BeaconSimulator::Stop() {
    std::thread worker;
    {
        std::lock_guard lock(mutex_);
        if (!worker_.joinable()) return;
        stopRequested_ = true;
        Wake();
        // Called from the sink: the worker ends after the sink returns; the destructor joins it.
        if (OnWorkerThread()) return;
        worker = std::move(worker_);
    }
    worker.join();
    std::lock_guard lock(mutex_);
    ClosePtyLocked();
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
    running_ = false;
    stopRequested_ = false;
    pulled_.notify_all();
}

bool BeaconSimulator::OnWorkerThread() const {
    return std::this_thread::get_id() == worker_.get_id();
}

void BeaconSimulator::Wake() {
    if (wakeWrite_ < 0) return;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost when this write fails.
    [[maybe_unused]] ssize_t written = ::write(wakeWrite_, &byte, 1);
}

std::string BeaconSimulator::DevicePath() const {
    std::lock_guard lock(mutex_);
    return path_;
}

void BeaconSimulator::SwitchOn() {
    std::lock_guard lock(mutex_);
    FlushIgnoredLocked();
    logic_.SwitchOn();
    queue_.clear();
    frontOffset_ = 0;
    input_.clear();
    pendingPrompt_ = Prompt::None;
    NoteLocked("switched on");
    EnqueueOutputLocked();
    Wake();
}

void BeaconSimulator::PullAdapter() {
    std::unique_lock lock(mutex_);
    if (master_ < 0) return;
    if (running_ && !workerDone_ && !OnWorkerThread()) {
        // The worker may be sleeping in poll() on the master: let it close the descriptors itself.
        const uint64_t target = pullsDone_ + 1;
        pullRequested_ = true;
        Wake();
        pulled_.wait(lock, [&] { return pullsDone_ >= target || !running_ || workerDone_; });
    }
    // Otherwise no poll() is using the descriptors now (or ever again).
    if (master_ >= 0) LoseAdapterLocked("adapter pulled");
}

bool BeaconSimulator::ReplugAdapter(std::string* error) {
    std::unique_lock lock(mutex_);
    // Another thread may plug an adapter in while this one is pulled; pull until none is left.
    while (master_ >= 0) {
        lock.unlock();
        PullAdapter();
        lock.lock();
    }
    if (!OpenPtyLocked(error)) return false;
    IdleLocked();
    NoteLocked("adapter plugged in at " + path_);
    Wake();
    return true;
}

std::string BeaconSimulator::StoredProgram() const {
    std::lock_guard lock(mutex_);
    return logic_.StoredProgram();
}

std::string BeaconSimulator::Slots() const {
    std::lock_guard lock(mutex_);
    return logic_.Slots();
}

std::string BeaconSimulator::State() const {
    std::lock_guard lock(mutex_);
    return StateName(logic_.State());
}

std::string BeaconSimulator::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<TranscriptEntry> BeaconSimulator::Transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
}

std::vector<double> BeaconSimulator::AnswerDelays() const {
    std::lock_guard lock(mutex_);
    std::vector<double> seconds;
    seconds.reserve(delays_.size());
    for (const AnswerDelay& d : delays_)
        seconds.push_back(d.seconds);
    return seconds;
}

std::vector<AnswerDelay> BeaconSimulator::AnswerLog() const {
    std::lock_guard lock(mutex_);
    return delays_;
}

void BeaconSimulator::SetTranscriptSink(std::function<void(const TranscriptEntry&)> sink) {
    std::lock_guard sinkLock(sinkMutex_);
    std::lock_guard lock(mutex_);
    hasSink_ = static_cast<bool>(sink);
    if (!hasSink_) sinkQueue_.clear();
    sink_ = std::move(sink);
}

bool BeaconSimulator::OpenPtyLocked(std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = ErrnoText(what, errno);
        CloseFd(slaveKeep_);
        CloseFd(master_);
        return false;
    };
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return fail("cannot open a pseudo-terminal");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) return fail("cannot unlock the pseudo-terminal");
    if (!SetFdFlags(master_)) return fail("cannot configure the pseudo-terminal");
    char name[PATH_MAX];
#ifdef __linux__
    if (ptsname_r(master_, name, sizeof name) != 0) return fail("cannot name the pseudo-terminal");
#else
    const char* shared = ptsname(master_);
    if (shared == nullptr) return fail("cannot name the pseudo-terminal");
    std::strncpy(name, shared, sizeof name - 1);
    name[sizeof name - 1] = 0;
#endif
    slaveKeep_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slaveKeep_ < 0) return fail("cannot open the pseudo-terminal's device");
    // Raw at once: the line discipline must neither echo nor translate anything, whoever opens it.
    termios tio{};
    if (tcgetattr(slaveKeep_, &tio) != 0) return fail("cannot read the terminal settings");
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(slaveKeep_, TCSANOW, &tio) != 0) return fail("cannot set the terminal to raw mode");
    if (!options_.linkPath.empty() && !PlaceLink(options_.linkPath, name, error)) {
        CloseFd(slaveKeep_);
        CloseFd(master_);
        return false;
    }
    path_ = name;
    writeBlocked_ = false;
    return true;
}

void BeaconSimulator::ClosePtyLocked() {
    CloseFd(slaveKeep_);
    CloseFd(master_);
    // The link goes with the device, as a stable name does when an adapter is pulled; a link that
    // meanwhile points elsewhere (another simulator took the name) is left alone.
    if (!options_.linkPath.empty() && !path_.empty()) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(options_.linkPath.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<size_t>(n)) == path_)
            ::unlink(options_.linkPath.c_str());
    }
    path_.clear();
    writeBlocked_ = false;
}

void BeaconSimulator::LoseAdapterLocked(const std::string& reason) {
    ClosePtyLocked();
    IdleLocked();
    NoteLocked(reason);
}

void BeaconSimulator::IdleLocked() {
    FlushIgnoredLocked();
    logic_.SwitchOff();
    queue_.clear();
    frontOffset_ = 0;
    input_.clear();
    pendingPrompt_ = Prompt::None;
}

void BeaconSimulator::Run() {
    // Signals belong to the program's own threads; poll() here is never interrupted by them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    for (;;) {
        DeliverToSink();
        pollfd fds[2];
        nfds_t count = 0;
        int timeoutMs = -1;
        int master = -1;
        {
            std::lock_guard lock(mutex_);
            if (stopRequested_) break;
            if (pullRequested_) {
                pullRequested_ = false;
                LoseAdapterLocked("adapter pulled");
                ++pullsDone_;
                pulled_.notify_all();
            }
            PumpLocked();
            FlushIgnoredLocked();
            fds[count++] = pollfd{wakeRead_, POLLIN, 0};
            master = master_;
            if (master >= 0) {
                fds[count++] = pollfd{master, static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0};
            }
            timeoutMs = PollTimeoutLocked(NowNs());
            // Entries for the sink go out before the next sleep.
            if (!sinkQueue_.empty()) timeoutMs = 0;
        }
        const int ready = ::poll(fds, count, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            std::lock_guard lock(mutex_);
            NoteLocked(ErrnoText("poll failed, the simulator stops", errno));
            break;
        }
        if (ready <= 0) continue;
        std::lock_guard lock(mutex_);
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        if (count > 1 && master == master_) {
            const short revents = fds[1].revents;
            if (revents & POLLOUT) {
                writeBlocked_ = false;
                nextDueNs_ = NowNs();
            }
            if (revents & (POLLIN | POLLHUP | POLLERR)) ReadFromToolLocked();
            // A master that still reports trouble after reading cannot be used; giving it up keeps
            // the worker from waking again and again.
            if (master_ >= 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                LoseAdapterLocked("the pseudo-terminal failed");
            }
        }
    }
    {
        std::lock_guard lock(mutex_);
        workerDone_ = true;
        pulled_.notify_all();
    }
    DeliverToSink();
}

int BeaconSimulator::PollTimeoutLocked(int64_t now) const {
    if (master_ < 0 || queue_.empty() || writeBlocked_) return -1;
    const int64_t wait = nextDueNs_ - now;
    if (wait <= 0) return 0;
    // Rounded up, so that the wake-up is never early and the loop never spins on a zero timeout.
    const int64_t ms = (wait + kNsPerMs - 1) / kNsPerMs;
    return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
}

void BeaconSimulator::PumpLocked() {
    for (;;) {
        // The beacon reads what the tool sent only once it has finished printing.
        while (queue_.empty() && !input_.empty()) {
            InputByte next = input_.front();
            input_.pop_front();
            FeedLocked(next);
        }
        if (queue_.empty()) return;
        if (master_ < 0) {
            size_t bytes = 0;
            for (const OutputPiece& piece : queue_)
                bytes += piece.text.size();
            NoteLocked("no adapter: " + std::to_string(bytes - frontOffset_) + " bytes of output lost");
            queue_.clear();
            frontOffset_ = 0;
            continue;
        }
        const int64_t now = NowNs();
        if (writeBlocked_ || now < nextDueNs_) return;
        WriteDueLocked(now);
        if (!queue_.empty()) return;
    }
}

void BeaconSimulator::FeedLocked(const InputByte& input) {
    const Prompt asked = logic_.Awaiting();
    const BeaconState before = logic_.State();
    const FeedResult result = logic_.Feed(input.byte);
    if (result == FeedResult::Ignored) {
        if (!ignoredRun_.empty() && ignoredState_ != before) FlushIgnoredLocked();
        ignoredState_ = before;
        ignoredRun_ += static_cast<char>(input.byte);
        return;
    }
    FlushIgnoredLocked();
    if (result == FeedResult::Answer && pendingPrompt_ != Prompt::None && pendingPrompt_ == asked) {
        delays_.push_back(AnswerDelay{asked, static_cast<double>(input.timeNs - promptEndNs_) / 1e9});
        pendingPrompt_ = Prompt::None;
    }
    EnqueueOutputLocked();
}

void BeaconSimulator::FlushIgnoredLocked() {
    if (ignoredRun_.empty()) return;
    std::string text = "ignored " + Readable(ignoredRun_) + " (" + StateName(ignoredState_) + ")";
    ignoredRun_.clear();
    NoteLocked(std::move(text));
}

void BeaconSimulator::EnqueueOutputLocked() {
    if (!logic_.HasOutput()) return;
    if (queue_.empty()) {
        // The line was idle: the first byte may go out at once.
        nextDueNs_ = std::max(nextDueNs_, NowNs());
        frontOffset_ = 0;
    }
    for (OutputPiece& piece : logic_.TakeOutput()) {
        if (!piece.text.empty()) queue_.push_back(std::move(piece));
    }
}

void BeaconSimulator::WriteDueLocked(int64_t now) {
    const int64_t delayNs = static_cast<int64_t>(options_.charDelayUs) * kNsPerUs;
    size_t want;
    if (options_.chunkSize > 0) {
        want = options_.chunkSize;
    } else if (delayNs == 0) {
        want = kMaxWriteBlock;
    } else {
        // Every byte whose time has come, so that a late wake-up does not slow the line down.
        want = static_cast<size_t>(std::min<int64_t>(1 + (now - nextDueNs_) / delayNs, kMaxWriteBlock));
    }
    std::string block;
    size_t offset = frontOffset_;
    for (const OutputPiece& piece : queue_) {
        if (block.size() >= want) break;
        block.append(piece.text, offset, want - block.size());
        offset = 0;
    }
    const ssize_t written = ::write(master_, block.data(), block.size());
    if (written < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            writeBlocked_ = true;
        } else if (errno != EINTR) {
            LoseAdapterLocked(ErrnoText("writing to the pseudo-terminal failed", errno));
        }
        return;
    }
    const int64_t after = NowNs();
    const auto count = static_cast<size_t>(written);
    RecordLocked(Direction::ToTool, block.substr(0, count), after);
    // Take the written bytes off the queue; a question whose last byte went out is now waiting.
    size_t left = count;
    while (left > 0 && !queue_.empty()) {
        OutputPiece& front = queue_.front();
        const size_t rest = front.text.size() - frontOffset_;
        if (left < rest) {
            frontOffset_ += left;
            break;
        }
        left -= rest;
        if (front.prompt != Prompt::None) {
            pendingPrompt_ = front.prompt;
            promptEndNs_ = after;
        }
        queue_.pop_front();
        frontOffset_ = 0;
    }
    if (count < block.size()) writeBlocked_ = true;
    if (options_.chunkSize > 0) {
        nextDueNs_ = after + static_cast<int64_t>(count) * delayNs +
                     static_cast<int64_t>(options_.chunkGapMs) * kNsPerMs;
    } else {
        nextDueNs_ += static_cast<int64_t>(count) * delayNs;
    }
}

void BeaconSimulator::ReadFromToolLocked() {
    char buffer[kReadBlock];
    size_t dropped = 0;
    // A bounded number of reads per wake-up: a peer that writes without pause must not keep the worker
    // here (and the getters locked out) for ever; poll() reports the rest at once.
    for (int reads = 0; reads < kMaxReadsPerWake; ++reads) {
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got > 0) {
            const int64_t now = NowNs();
            std::string bytes(buffer, static_cast<size_t>(got));
            for (char c : bytes) {
                if (input_.size() < kMaxInputBacklog) {
                    input_.push_back(InputByte{static_cast<unsigned char>(c), now});
                } else {
                    ++dropped;
                }
            }
            RecordLocked(Direction::FromTool, std::move(bytes), now);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // End of file or EIO: the slave side is gone for good.
        LoseAdapterLocked(got == 0 ? std::string("the pseudo-terminal was closed")
                                   : ErrnoText("reading from the pseudo-terminal failed", errno));
        break;
    }
    if (dropped > 0) {
        NoteLocked(std::to_string(dropped) + " received bytes lost: the beacon's input buffer is full");
    }
}

void BeaconSimulator::RecordLocked(Direction direction, std::string bytes, int64_t timeNs) {
    if (direction == Direction::FromTool && !recordFull_) received_ += bytes;
    if (recordFull_) return;
    recordedBytes_ += bytes.size();
    TranscriptEntry entry{static_cast<double>(timeNs - originNs_) / 1e9, timeNs, direction, std::move(bytes)};
    if (recordedBytes_ > kMaxRecordedBytes) {
        recordFull_ = true;
        entry = TranscriptEntry{entry.time, timeNs, Direction::Note,
                                "the transcript is full; further traffic is not recorded"};
    }
    if (hasSink_) sinkQueue_.push_back(entry);
    if (options_.keepTranscript) transcript_.push_back(std::move(entry));
}

void BeaconSimulator::NoteLocked(std::string text) {
    RecordLocked(Direction::Note, std::move(text), NowNs());
}

void BeaconSimulator::DeliverToSink() {
    std::lock_guard sinkLock(sinkMutex_);
    std::deque<TranscriptEntry> entries;
    {
        std::lock_guard lock(mutex_);
        entries.swap(sinkQueue_);
    }
    if (!sink_) return;
    for (const TranscriptEntry& entry : entries)
        sink_(entry);
}

}  // namespace zbsim
