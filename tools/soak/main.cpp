// soak: the real main window (offscreen) holds many beacon dialogues in a row against two simulated
// beacons on pseudo-terminals, a plain one and a synchronized one, each under a stable device name.
// Dialogue i reads (i/2 % 3 = 0), programs (1) or verifies (2) the plain beacon for even i and the
// synchronized one for odd i; before every tenth dialogue the beacon's adapter is pulled and plugged in
// again, and the window must reopen its port by itself.
//
// Reported, with their targets (the exit status is 1 when one is missed):
//   wrong or missing answers       every byte the tool sends, per dialogue, against the expected answers,
//                                  and the result in the window or the beacon (0)
//   resident memory                at the start and the end (growth under 1 MB)
//   open descriptors, threads      at the start and the end (equal)
//   processor time                 of the whole process over the run (under 5 % of one core)
//   answer delays                  from the end of each question to its answer, per kind of question
//                                  (all within 5 ms of 0.9936 s for y/n, 0.4968 s for set/clear and for
//                                  the first digit of the slot time)
// The figures are taken after the warm-up dialogues, so that what is allocated once does not count.
//
//   soak [--dialogues N] [--warm-up N] [--unplug-every N] [--correctness-only]
#include <dirent.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThreadPool>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "device/VaComm.h"
#include "platform/Thread.h"
#include "platform/serial/PortMap.h"
#include "tools/common/WindowBench.h"
#include "tools/sim/BeaconSimulator.h"

namespace {

constexpr double kUnit = 0.9936;  // seconds per Delay unit
constexpr double kDelayTolerance = 0.005;
constexpr int kDialogueTimeoutMs = 90000;
constexpr int kReconnectTimeoutMs = 15000;

struct Options {
    int dialogues = 100;
    int warmUp = 6;  // one of each: both kinds, all three operations
    int unplugEvery = 10;
    bool correctnessOnly = false;
};

bool ParseCount(const char* text, int minimum, int& value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < minimum || n > 1'000'000) return false;
    value = static_cast<int>(n);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--dialogues" && hasValue && ParseCount(argv[++i], 1, options.dialogues)) continue;
        if (arg == "--warm-up" && hasValue && ParseCount(argv[++i], 0, options.warmUp)) continue;
        if (arg == "--unplug-every" && hasValue && ParseCount(argv[++i], 1, options.unplugEvery)) continue;
        if (arg == "--correctness-only") {
            options.correctnessOnly = true;
            continue;
        }
        std::fprintf(stderr,
                     "usage: soak [--dialogues N] [--warm-up N] [--unplug-every N] [--correctness-only]\n");
        return false;
    }
    return true;
}

// What the process holds.
struct Resources {
    long residentKb = 0;
    int descriptors = 0;
    int threads = 0;
    std::string descriptorList;  // what each descriptor leads to
    std::string threadList;      // the threads' names
};

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The entries of a /proc folder, each mapped by `describe`, separated by commas.
std::string ListFolder(const char* folder, const std::function<std::string(const std::string&)>& describe) {
    std::vector<std::string> items;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') items.push_back(describe(entry->d_name));
        }
        ::closedir(dir);
    }
    std::sort(items.begin(), items.end());
    std::string list;
    for (const std::string& item : items)
        list += (list.empty() ? "" : ", ") + item;
    return list;
}

Resources Measure() {
    Resources r;
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:")
            status >> r.residentKb;
        else if (key == "Threads:")
            status >> r.threads;
        status.ignore(1 << 20, '\n');
    }
    r.descriptorList = ListFolder("/proc/self/fd", [&](const std::string& name) {
        ++r.descriptors;
        char target[256] = {};
        const ssize_t n = ::readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
        return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string("?");
    });
    --r.descriptors;  // the listing's own
    r.threadList = ListFolder("/proc/self/task", [](const std::string& name) {
        return ReadLine("/proc/self/task/" + name + "/comm");
    });
    return r;
}

// The machine's own timing, for comparison with the answer delays: a thread that sleeps 50 ms again
// and again and records how late each sleep ends. On a shared or virtual machine a few of these are
// several milliseconds late with no program involved; an answer delay waits on four such wake-ups
// (the beacon's write, the window's reader, its pause, the beacon's reader).
class TimerProbe {
public:
    void Start() {
        thread_ = std::thread([this] {
            while (!stop_) {
                const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
                std::this_thread::sleep_until(due);
                const double late =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - due).count();
                // Counted in steps of 0.1 ms, so that the probe's own memory stays the same all along.
                ++counts_[std::min(static_cast<size_t>(std::max(late, 0.0) * 1e4), counts_.size() - 1)];
                max_ = std::max(max_, late);
                ++total_;
            }
        });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // After Stop.
    void Print(double tolerance) const {
        if (total_ == 0) return;
        // The lateness below which a share of the sleeps ended, to the step.
        const auto quantile = [&](double share) {
            size_t seen = 0;
            for (size_t i = 0; i < counts_.size(); ++i) {
                seen += counts_[i];
                if (static_cast<double>(seen) >= share * static_cast<double>(total_)) return (i + 1) * 0.1;
            }
            return counts_.size() * 0.1;
        };
        size_t over = 0;
        for (size_t i = static_cast<size_t>(tolerance * 1e4); i < counts_.size(); ++i)
            over += counts_[i];
        std::printf(
            "  the machine's own timer, for comparison: %zu sleeps of 50 ms, late by at most %.1f ms\n"
            "    for half, %.1f ms for 99 %%, %.2f ms at worst; %zu of them %.0f ms or more late\n",
            total_, quantile(0.5), quantile(0.99), max_ * 1000, over, tolerance * 1000);
    }

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    // Written by the thread until Stop.
    std::array<size_t, 1000> counts_{};  // sleeps late by [0.1 i, 0.1 (i + 1)) ms; the last: 99.9 ms or more
    double max_ = 0;                     // seconds
    size_t total_ = 0;
};

enum class Operation { Read, Program, Verify };

const char* OperationName(Operation op) {
    switch (op) {
        case Operation::Read:
            return "Read";
        case Operation::Program:
            return "Program";
        case Operation::Verify:
            return "Verify";
    }
    return "";
}

// One simulated beacon, reached by the window as port `port` through its stable name.
struct Beacon {
    Beacon(bool synchronized, int port, std::string link)
        : port(port), link(link), sim(MakeOptions(synchronized, std::move(link))) {}
    static zbsim::BeaconOptions MakeOptions(bool synchronized, std::string link) {
        zbsim::BeaconOptions options;
        options.synchronized = synchronized;
        options.linkPath = std::move(link);
        options.keepTranscript = false;  // the soak reads only what the tool sent and the answer delays
        return options;
    }
    int port;
    std::string link;
    zbsim::BeaconSimulator sim;
};

class Soak {
public:
    explicit Soak(const Options& options) : options_(options) {}

    bool Run() {
        if (!Start()) return false;
        probe_.Start();  // before the first count of threads, so that it is in both
        const int total = options_.warmUp + options_.dialogues;
        Resources before;
        double cpu0 = 0, wall0 = 0;
        for (int i = 0; i < total; ++i) {
            if (i == options_.warmUp) {
                before = Measure();
                cpu0 = bench::CpuSeconds();
                wall0 = bench::WallSeconds();
            }
            Dialogue(i, i >= options_.warmUp);
        }
        // An answer sent too many would come after a pause of at most one unit.
        bench::WaitUntil([] { return false; }, 1500);
        CheckNothingMore();
        const double cpuShare = (bench::CpuSeconds() - cpu0) / (bench::WallSeconds() - wall0) * 100;
        const Resources after = Measure();
        probe_.Stop();
        return Summary(before, after, cpuShare);
    }

private:
    bool Start() {
        if (!dir_.isValid() || !names_.isValid()) return false;
        // The stable names live in a folder of the run's own, as /dev/serial/by-id does for adapters.
        Serial::SetStableNameFolder(names_.path().toStdString());
        beacons_[0] =
            std::make_unique<Beacon>(false, 9, names_.filePath("usb-Zindle_Beacon_PLAIN-if00").toStdString());
        beacons_[1] =
            std::make_unique<Beacon>(true, 10, names_.filePath("usb-Zindle_Beacon_GPS-if00").toStdString());
        for (auto& beacon : beacons_) {
            std::string error;
            if (!beacon->sim.Start(&error)) {
                std::fprintf(stderr, "soak: cannot start the simulator: %s\n", error.c_str());
                return false;
            }
        }
        bench::StartWindow(form_, debug_, dir_.path(), dialogs_);
        // The window's start-up reads the port map from its settings; the beacons' names come after.
        Serial::SetPortMap({{beacons_[0]->port, beacons_[0]->link}, {beacons_[1]->port, beacons_[1]->link}});
        return true;
    }

    // Chooses the beacon's port (and the synchronized option to fit it) unless it is chosen already.
    bool Choose(Beacon& beacon, bool synchronized) {
        if (form_->Synchronized->isChecked() != synchronized) form_->Synchronized->trigger();
        if (form_->Com->PortNum() == beacon.port && form_->Com->IsOpen()) return true;
        form_->Com->Close();
        form_->Com->SetPortNum(beacon.port);
        try {
            form_->Com->Open();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "soak: cannot open the port: %s\n", e.what());
        }
        return form_->Com->IsOpen();
    }

    // The adapter pulled and plugged in again: the window must let go and reopen the port by itself.
    bool Replug(Beacon& beacon) {
        beacon.sim.PullAdapter();
        if (!bench::WaitUntil([&] { return !form_->Com->IsOpen(); }, kReconnectTimeoutMs)) {
            std::printf("  the window kept the pulled device open\n");
            return false;
        }
        std::string error;
        if (!beacon.sim.ReplugAdapter(&error)) {
            std::fprintf(stderr, "soak: cannot plug the adapter in again: %s\n", error.c_str());
            return false;
        }
        if (!bench::WaitUntil([&] { return form_->Com->IsOpen(); }, kReconnectTimeoutMs)) {
            std::printf("  the window did not reopen the port after the replug\n");
            return false;
        }
        ++replugs_;
        return true;
    }

    QByteArray Ticks() const {
        QByteArray ticks;
        for (QAction* item : form_->GPSSlots)
            ticks += item->isChecked() ? '1' : '0';
        return ticks;
    }

    // The answers a Program must send after the message: for each slot in which the menu and the
    // beacon differ, lowest first, y, s or c, the slot's offset and CR; then n.
    static std::string SlotAnswers(const QByteArray& wanted, const std::string& beacon) {
        std::string answers;
        for (int i = 0; i < 24; ++i) {
            if ((wanted.at(i) == '1') == (beacon.at(static_cast<size_t>(i)) == '1')) continue;
            answers += 'y';
            answers += wanted.at(i) == '1' ? 's' : 'c';
            answers += std::to_string(5 * i) + "\r";
        }
        return answers + "n";
    }

    void Fault(int index, const std::string& what) {
        ++faults_;
        std::printf("  dialogue %d: %s\n", index, what.c_str());
    }

    void Dialogue(int index, bool measured) {
        const bool synchronized = index % 2 == 1;
        const Operation op = static_cast<Operation>(index / 2 % 3);
        Beacon& beacon = *beacons_[synchronized ? 1 : 0];
        CheckNothingMore();
        if (!Choose(beacon, synchronized)) {
            Fault(index, "the port could not be opened");
            return;
        }
        if (index > 0 && index % options_.unplugEvery == 0 && !Replug(beacon)) {
            Fault(index, "the adapter was not taken up again");
            return;
        }
        zbsim::BeaconSimulator& sim = beacon.sim;

        std::string expected;
        std::string wantedSlots = sim.Slots();
        QByteArray memo;
        switch (op) {
            case Operation::Read:
                expected = synchronized ? "nn" : "n";
                break;
            case Operation::Program: {
                // A new message each time, and on the synchronized beacon one slot more or less.
                memo = "PSDvvv de SOAK " + QByteArray::number(index) + " SQSZ";
                form_->SetMemoText(memo);
                form_->TakeMemoAsUnchanged();  // as if opened from a file: a Read asks nothing
                expected = "y" + memo.toStdString();
                if (synchronized) {
                    form_->GPSSlots[1 + (index / 6) % 23]->trigger();
                    wantedSlots = Ticks().toStdString();
                    expected += "n" + SlotAnswers(Ticks(), sim.Slots());
                } else {
                    expected += "n";
                }
                break;
            }
            case Operation::Verify:
                // The window has one memo for both beacons: it is set to what this one stores.
                memo = QByteArray::fromStdString(sim.StoredProgram());
                form_->SetMemoText(memo);
                form_->TakeMemoAsUnchanged();  // as if opened from a file: a Read asks nothing
                expected = synchronized ? "nn" : "n";
                break;
        }

        const size_t sentBefore = sim.Received().size();
        const size_t logBefore = sim.AnswerLog().size();
        QPushButton* button = op == Operation::Read      ? form_->ReadBeacon
                              : op == Operation::Program ? form_->ProgramBeacon
                                                         : form_->Button1;
        button->click();
        sim.SwitchOn();
        const bool finished = bench::WaitUntil(
            [&] {
                // Done when the beacon runs again and its last words have reached the window.
                return sim.State() == "Beaconing" && sim.Received().size() >= sentBefore + expected.size() &&
                       form_->Engine->ReceivedText().endsWith("Beacon running\r\n");
            },
            kDialogueTimeoutMs);
        const std::string sent = sim.Received().substr(sentBefore);
        lastSent_ = {&sim, sim.Received().size(), index};
        ++dialogues_;

        const std::string label =
            std::string(OperationName(op)) + (synchronized ? " (synchronized)" : " (plain)");
        if (!finished || sent != expected) {
            Fault(index, label + ": sent \"" + zbsim::Readable(sent) + "\", expected \"" +
                             zbsim::Readable(expected) + "\"" + (finished ? "" : " (timed out)"));
        }
        switch (op) {
            case Operation::Read:
                if (form_->MemoText().toStdString() != sim.StoredProgram())
                    Fault(index, label + ": the memo holds \"" + form_->MemoText().toStdString() + "\"");
                if (synchronized && Ticks().toStdString() != sim.Slots())
                    Fault(index, label + ": the GPS menu ticks " + Ticks().toStdString() +
                                     ", the beacon has " + sim.Slots());
                break;
            case Operation::Program:
                if (sim.StoredProgram() != memo.toStdString())
                    Fault(index, label + ": the beacon stored \"" + sim.StoredProgram() + "\"");
                if (sim.Slots() != wantedSlots)
                    Fault(index,
                          label + ": the beacon's slots are " + sim.Slots() + ", wanted " + wantedSlots);
                break;
            case Operation::Verify: {
                const QString want = synchronized ? QStringLiteral("Beacon Sequence OK - GPS Verified")
                                                  : QStringLiteral("Beacon Sequence OK");
                if (form_->TellCaption() != want)
                    Fault(index, label + ": the strip says \"" + form_->TellCaption().toStdString() + "\"");
                break;
            }
        }
        if (dialogs_.Errors != 0) {
            Fault(index, label + ": an error was shown");
            dialogs_.Errors = 0;
        }
        if (!measured) return;
        const std::vector<zbsim::AnswerDelay> log = sim.AnswerLog();
        for (size_t i = logBefore; i < log.size(); ++i)
            delays_[log[i].prompt].push_back(log[i].seconds);
    }

    // Nothing may have been sent since the last dialogue ended.
    void CheckNothingMore() {
        if (lastSent_.sim == nullptr) return;
        const std::string now = lastSent_.sim->Received();
        if (now.size() != lastSent_.size)
            Fault(lastSent_.index,
                  "sent \"" + zbsim::Readable(now.substr(lastSent_.size)) + "\" after its end");
        lastSent_.sim = nullptr;
    }

    bool Summary(const Resources& before, const Resources& after, double cpuShare) {
        std::printf("Soak: %d dialogues after %d warm-up, %d replugs\n", options_.dialogues, options_.warmUp,
                    replugs_);
        bool correct = faults_ == 0;
        std::printf("  %-52s %9d     (target 0) %s\n", "wrong or missing answers and results", faults_,
                    correct ? "ok" : "MISSED");

        bool timely = true;
        struct Kind {
            zbsim::Prompt prompt;
            double target;  // seconds; 0: no target
        };
        const Kind kinds[] = {
            {zbsim::Prompt::ChangeProgram, kUnit},  {zbsim::Prompt::ChangeMessage, kUnit},
            {zbsim::Prompt::ChangeSlots, kUnit},    {zbsim::Prompt::SetOrClear, 0.5 * kUnit},
            {zbsim::Prompt::SlotTime, 0.5 * kUnit}, {zbsim::Prompt::EnterProgram, 0},
        };
        std::printf("  answer delays (s): count, min, median, max; target within %.0f ms\n",
                    kDelayTolerance * 1000);
        for (const Kind& kind : kinds) {
            const std::vector<double>& values = delays_[kind.prompt];
            if (values.empty()) continue;
            const zbsim::DelayStats s = zbsim::Summarize(values);
            double worst = 0;    // the farthest from the target, early (-) or late (+)
            size_t outside = 0;  // how many missed the target
            for (double v : values) {
                if (std::abs(v - kind.target) > std::abs(worst)) worst = v - kind.target;
                if (std::abs(v - kind.target) >= kDelayTolerance) ++outside;
            }
            const bool met = kind.target == 0 || outside == 0;
            timely &= met;
            if (kind.target == 0) {
                std::printf("    %-18s %5zu  %.4f  %.4f  %.4f  (the message: 1000 ms countdown, no target)\n",
                            zbsim::PromptName(kind.prompt), s.count, s.min, s.median, s.max);
            } else {
                std::printf("    %-18s %5zu  %.4f  %.4f  %.4f  target %.4f, worst %+.2f ms %s\n",
                            zbsim::PromptName(kind.prompt), s.count, s.min, s.median, s.max, kind.target,
                            worst * 1000, met ? "ok" : ("MISSED by " + std::to_string(outside)).c_str());
            }
        }
        probe_.Print(kDelayTolerance);
        const long growthKb = after.residentKb - before.residentKb;
        std::printf("  resident memory: %ld kB at the start, %ld kB at the end\n", before.residentKb,
                    after.residentKb);
        bool lean =
            bench::Report("resident memory growth", static_cast<double>(growthKb) / 1024.0, 1.0, "MB");
        std::printf("  open descriptors: %d at the start, %d at the end %s\n", before.descriptors,
                    after.descriptors, before.descriptors == after.descriptors ? "ok" : "MISSED");
        std::printf("  threads: %d at the start, %d at the end %s\n", before.threads, after.threads,
                    before.threads == after.threads ? "ok" : "MISSED");
        if (before.descriptors != after.descriptors)
            std::printf("    at the start: %s\n    at the end:   %s\n", before.descriptorList.c_str(),
                        after.descriptorList.c_str());
        if (before.threads != after.threads)
            std::printf("    at the start: %s\n    at the end:   %s\n", before.threadList.c_str(),
                        after.threadList.c_str());
        lean &= before.descriptors == after.descriptors && before.threads == after.threads;
        lean &= bench::Report("processor time, average share of one core", cpuShare, 5.0, "%");

        if (options_.correctnessOnly) {
            if (!timely || !lean) std::printf("  (timing and resources are reported only in this run)\n");
            return correct;
        }
        return correct && timely && lean;
    }

    struct LastSent {
        zbsim::BeaconSimulator* sim = nullptr;
        size_t size = 0;
        int index = 0;
    };

    const Options options_;
    QTemporaryDir dir_;
    QTemporaryDir names_;
    bench::QuietDialogs dialogs_{"soak"};
    std::unique_ptr<Beacon> beacons_[2];
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TDebug> debug_;
    std::map<zbsim::Prompt, std::vector<double>> delays_;
    LastSent lastSent_;
    TimerProbe probe_;
    int faults_ = 0;
    int dialogues_ = 0;
    int replugs_ = 0;

public:
    ~Soak() {
        form_.reset();  // closes the port before the simulators go
        debug_.reset();
        Serial::SetPortMap({});
    }
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Qt's shared pool lets an idle worker go after half a minute and starts one again when needed;
    // kept, they are counted like any other thread that is started once.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    bool ok = false;
    {
        Soak soak(options);
        ok = soak.Run();
    }
    TThread::WaitForFreeThreads();
    return ok ? 0 : 1;
}
