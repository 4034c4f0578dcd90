// bench-link: the beacon link measured against its targets, on the real main window (offscreen) talking
// to the in-process beacon simulator over a pseudo-terminal. Prints the figures; exits with 1 when a
// target was missed.
//
//   paced wait          Delay(1) and Delay(0.1), 20 runs each: time past the exact deadline (median, max;
//                       target: within 5 ms) and processor time of the process during the waits (< 5 %)
//   answer delays       from the end of each question to the first byte of its answer, per kind of
//                       question, in a full synchronized Program dialogue with one slot set and one
//                       cleared (simulator's answer log; y/n 0.9936 s, set/clear 0.4968 s, within 5 ms)
//   dialogue load       processor time of the whole process during that dialogue (< 5 % of one core)
//   upload pace         a 127-character memo: first to last character received by the simulator
//                       (126 pauses), scaled to the 127 pauses of the whole upload (12.62 s within 1 %)
//
// The answer delays and the upload pace are measured twice: behind the window, and with zbeacon-cli run
// as a separate process against the same simulator.
#include <time.h>

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/Unit2.h"
#include "app/ZB.h"
#include "device/VaComm.h"
#include "platform/Clock.h"
#include "platform/Thread.h"
#include "platform/serial/Serial.h"
#include "tools/common/WindowBench.h"
#include "tools/sim/BeaconSimulator.h"

namespace {

using bench::CpuSeconds;
using bench::QuietDialogs;
using bench::Report;
using bench::WaitUntil;
using bench::WallSeconds;

constexpr double kUnit = 0.9936;  // seconds per Delay unit
constexpr int kPort = 9;

struct Stats {
    double median = 0, max = 0;
};

Stats Summarise(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.back()};
}

// The program's window in a scratch program folder, with the simulator's device open as its port.
class Link {
public:
    explicit Link(zbsim::BeaconOptions options) : sim(std::move(options)) {}
    ~Link() {
        form.reset();
        debug.reset();
        Serial::SetPortMap({});
    }

    bool Start() {
        std::string error;
        if (!dir.isValid() || !sim.Start(&error)) {
            std::fprintf(stderr, "bench-link: cannot start the simulator: %s\n", error.c_str());
            return false;
        }
        bench::StartWindow(form, debug, dir.path(), dialogs);
        Serial::SetPortMap({{kPort, sim.DevicePath()}});
        form->Com->SetPortNum(kPort);
        try {
            form->Com->Open();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench-link: cannot open the port: %s\n", e.what());
            return false;
        }
        return true;
    }

    // Programs `memo` with zbeacon-cli (plus `extra` arguments), switching the beacon on once the tool
    // asks for it, and waits until the tool has ended and the beacon runs.
    bool ProgramWithCli(const QByteArray& memo, const QStringList& extra) {
        form->Com->Close();  // the tool opens the device itself; the window must not read the beacon's text
        const QString file = dir.filePath(QStringLiteral("bench.txt"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(memo) != memo.size()) return false;
        out.close();
        QProcess cli;
        cli.setProgram(QStringLiteral(ZBEACON_CLI_PATH));
        cli.setArguments(QStringList{QStringLiteral("program"), QStringLiteral("--port"),
                                     QString::fromStdString(sim.DevicePath())} +
                         extra + QStringList{file});
        cli.start();
        QByteArray err;
        if (!WaitUntil([&] { return (err += cli.readAllStandardError()).contains("Check jumper"); }, 60000))
            return false;
        sim.SwitchOn();
        const bool ended = WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, 120000);
        if (!ended || cli.exitCode() != 0) {
            std::fprintf(stderr, "bench-link: zbeacon-cli failed: %s\n",
                         (err + cli.readAllStandardError()).constData());
            return false;
        }
        return WaitUntil([&] { return sim.State() == "Beaconing"; }, 60000);
    }

    // Presses Program Beacon, switches the beacon on and waits until the conversation is over.
    bool Program() {
        form->ProgramBeacon->click();
        sim.SwitchOn();
        return WaitUntil(
            [&] {
                return sim.State() == "Beaconing" &&
                       form->Engine->ReceivedText().endsWith("Beacon running\r\n");
            },
            120000);
    }

    QTemporaryDir dir;
    QuietDialogs dialogs{"bench-link"};
    zbsim::BeaconSimulator sim;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TDebug> debug;
};

bool PacedWait() {
    QuietDialogs dialogs{"bench-link"};
    QTemporaryDir dir;
    TForm1 form(dir.path(), dialogs);
    form.Create();
    form.show();
    bool ok = true;
    std::printf("Paced wait\n");
    for (double units : {1.0, 0.1}) {
        std::vector<double> lateMs;
        const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
        for (int run = 0; run < 20; ++run) {
            const int64_t start = Clock::MonotonicNs();
            form.Delay(units);
            lateMs.push_back(static_cast<double>(Clock::MonotonicNs() - start) / 1e6 - units * kUnit * 1000);
        }
        const double share = (CpuSeconds() - cpu0) / (WallSeconds() - wall0) * 100;
        const Stats s = Summarise(lateMs);
        const double shortest = *std::min_element(lateMs.begin(), lateMs.end());
        std::printf("  Delay(%g), 20 runs: past the deadline median %.3f ms, max %.3f ms, min %.3f ms\n",
                    units, s.median, s.max, shortest);
        ok &= shortest >= 0;
        const std::string name = "Delay(" + QString::number(units).toStdString() + ")";
        ok &= Report((name + " lateness, median").c_str(), s.median, 5.0, "ms");
        ok &= Report((name + " lateness, max").c_str(), s.max, 5.0, "ms");
        ok &= Report((name + " processor time during the waits").c_str(), share, 5.0, "%");
    }
    return ok;
}

bool SynchronizedProgram(bool cli) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    options.slotTable = "100100000000100000000000";  // slot 3 to clear; slot 6 missing
    Link link(options);
    if (!link.Start()) return false;
    TForm1& form = *link.form;
    form.Synchronized->trigger();
    form.GPSSlots[6]->trigger();
    const QByteArray memo = "PSDvvv de TEST/B SQSZ";
    form.SetMemoText(memo);
    form.TakeMemoAsUnchanged();  // as if opened from a file: closing asks nothing

    const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
    const bool done = cli ? link.ProgramWithCli(memo, {"--sync", "--slots", "0,30,60"}) : link.Program();
    if (!done) {
        std::printf("the synchronized Program dialogue did not finish\n");
        return false;
    }
    const double wall = WallSeconds() - wall0;
    const double share = (CpuSeconds() - cpu0) / wall * 100;
    bool ok = link.sim.Slots() == "100000100000100000000000" && link.dialogs.Errors == 0;
    std::printf("[%s] Synchronized Program dialogue (one clear, one set): %.2f s, tool sent \"%s\"%s\n",
                cli ? "zbeacon-cli" : "window", wall, zbsim::Readable(link.sim.Received()).c_str(),
                ok ? "" : " -- WRONG RESULT");

    struct Kind {
        zbsim::Prompt prompt;
        const char* answer;
        double target;  // seconds; 0: not a paced answer
    };
    const Kind kinds[] = {
        {zbsim::Prompt::ChangeProgram, "y", kUnit},
        {zbsim::Prompt::EnterProgram, "message (countdown)", 0},
        {zbsim::Prompt::ChangeMessage, "n", kUnit},
        {zbsim::Prompt::ChangeSlots, "y / n", kUnit},
        {zbsim::Prompt::SetOrClear, "s / c", 0.5 * kUnit},
        {zbsim::Prompt::SlotTime, "first digit (0.4 + 0.1 units)", 0.5 * kUnit},
    };
    std::map<zbsim::Prompt, std::vector<double>> delays;
    for (const zbsim::AnswerDelay& d : link.sim.AnswerLog())
        delays[d.prompt].push_back(d.seconds);
    for (const Kind& kind : kinds) {
        const std::vector<double>& values = delays[kind.prompt];
        if (values.empty()) {
            std::printf("  %-18s no answer recorded\n", zbsim::PromptName(kind.prompt));
            ok = false;
            continue;
        }
        double worst = 0;
        std::string list;
        for (double v : values) {
            list += (list.empty() ? "" : ", ") + QString::number(v, 'f', 4).toStdString();
            worst = std::max(worst, std::abs(v - kind.target));
        }
        if (kind.target == 0) {
            std::printf("  %-18s -> %-30s %s s (1000 ms countdown, no target)\n",
                        zbsim::PromptName(kind.prompt), kind.answer, list.c_str());
            continue;
        }
        const bool met = worst < 0.005;
        ok &= met;
        std::printf("  %-18s -> %-30s %s s (target %.4f s within 5 ms) %s\n", zbsim::PromptName(kind.prompt),
                    kind.answer, list.c_str(), kind.target, met ? "ok" : "MISSED");
    }
    std::printf(
        "  (the simulator times from the last byte of each question; \"Chg msg?\", \"Set or clear?\"\n"
        "   and \"Slot time?\" are recognised by a fragment that ends 1 or 2 characters earlier, about\n"
        "   1 ms each at the simulator's pace, so their pause starts that much before the end)\n");
    // The command-line tool runs in a process of its own; its load is not this process's.
    if (!cli) ok &= Report("processor time of the process during the dialogue", share, 5.0, "%");
    return ok;
}

bool UploadPace(bool cli) {
    zbsim::BeaconOptions options;
    Link link(options);
    if (!link.Start()) return false;
    std::string memo = "PSD";
    while (memo.size() < 123)
        memo += "vvv de TEST/B JO01AA ";
    memo.resize(123);
    memo += "SQSZ";
    link.form->SetMemoText(QByteArray::fromStdString(memo));
    link.form->TakeMemoAsUnchanged();  // as if opened from a file: closing asks nothing
    if (!(cli ? link.ProgramWithCli(QByteArray::fromStdString(memo), {}) : link.Program())) {
        std::printf("the Program dialogue did not finish\n");
        return false;
    }
    std::vector<double> times;  // arrival of each message character at the simulator
    for (const zbsim::TranscriptEntry& entry : link.sim.Transcript()) {
        if (entry.direction != zbsim::Direction::FromTool) continue;
        for (size_t i = 0; i < entry.bytes.size(); ++i)
            times.push_back(static_cast<double>(entry.monotonicNs) / 1e9);
    }
    // The tool sent "y", the 127 characters, then "n".
    if (times.size() != memo.size() + 2 || link.sim.StoredProgram() != memo) {
        std::printf("Upload: the beacon did not receive the memo intact\n");
        return false;
    }
    const double span = times[memo.size()] - times[1];
    std::vector<double> gaps;
    for (size_t i = 2; i <= memo.size(); ++i)
        gaps.push_back((times[i] - times[i - 1]) * 1000);
    const Stats g = Summarise(gaps);
    const double whole = span * 127.0 / 126.0;
    const double target = 127 * 0.1 * kUnit;
    const bool ok = std::abs(whole - target) <= 0.01 * target;
    std::printf("[%s] Upload of a 127-character memo\n", cli ? "zbeacon-cli" : "window");
    std::printf(
        "  first to last character at the simulator: %.4f s = 126 pauses (exact 126 x 0.09936 = %.4f s)\n",
        span, 126 * 0.1 * kUnit);
    std::printf("  per character: median %.3f ms, max %.3f ms (exact 99.360 ms)\n", g.median, g.max);
    std::printf("  %-52s %9.4f s   (target %.4f s within 1 %%) %s\n", "127 pauses (the span x 127/126)",
                whole, target, ok ? "ok" : "MISSED");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = PacedWait();
    for (bool cli : {false, true}) {
        ok &= SynchronizedProgram(cli);
        ok &= UploadPace(cli);
    }
    TThread::WaitForFreeThreads();
    return ok ? 0 : 1;
}
