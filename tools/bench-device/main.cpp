// bench-device: measures the device components against their targets and prints the figures.
//
//   countdown OnStop lateness   median over 20 one-shot countdowns (target < 2 ms)
//   data-event latency          byte written to the far end of a pseudo-terminal until OnData
//                               runs on the GUI thread, median of 50 (target < 2 ms)
//   processor time              of an open idle port, and of running countdowns, as a share of
//                               one core over a few seconds (target < 1 %)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/SuperTimer.h"
#include "device/VaComm.h"
#include "platform/Clock.h"
#include "platform/Thread.h"
#include "platform/serial/Serial.h"

namespace {

double CpuSeconds() {
    return Clock::ProcessCpuSeconds();
}

double WallSeconds() {
    return static_cast<double>(Clock::MonotonicNs()) / 1e9;
}

void RunFor(int Ms) {
    QEventLoop loop;
    QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Stats {
    double median, max;
};

Stats Summarise(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    size_t n = Values.size();
    double median = n % 2 == 1 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
    return {median, Values.back()};
}

bool Report(const char* What, double Value, double Target, const char* Unit) {
    bool ok = Value < Target;
    std::printf("%-44s %9.3f %-4s (target < %g %s) %s\n", What, Value, Unit, Target, Unit,
                ok ? "ok" : "MISSED");
    return ok;
}

bool CountdownLateness() {
    TSuperTimer timer;
    timer.SetInterval(100);
    timer.SetCountDown(true);
    std::vector<double> lateness;
    QEventLoop loop;
    int64_t dueNs = 0;
    timer.OnStop = [&](TObject*) {
        lateness.push_back(static_cast<double>(Clock::MonotonicNs() - dueNs) / 1e6);
        loop.quit();
    };
    for (int run = 0; run < 20; ++run) {
        // Due when the millisecond counter reads the enabling's value + 100.
        dueNs = (Clock::MonotonicNs() / 1000000 + 100) * 1000000LL;
        timer.SetEnabled(true);
        loop.exec();
    }
    Stats s = Summarise(lateness);
    std::printf("countdown OnStop lateness, 20 runs of 100 ms: median %.3f ms, max %.3f ms\n", s.median,
                s.max);
    return Report("countdown OnStop lateness (median)", s.median, 2.0, "ms");
}

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        char name[128];
        if (ptsname_r(master, name, sizeof name) == 0) slave = name;
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
};

bool DataLatencyAndIdlePort() {
    Pty pty;
    if (pty.slave.empty()) {
        std::printf("no pseudo-terminal available\n");
        return false;
    }
    Serial::SetPortMap({{1, pty.slave}});
    TVaComm com;
    com.SetPortNum(1);
    com.SetBaudrate(br9600);
    com.SetMonitorEvents({ceData});
    com.SetFlowControl(fcNone);
    com.SetDTRControl(dtrDisable);
    com.SetRTSControl(rtsDisable);

    std::mutex mutex;
    std::condition_variable seen;
    int64_t sentNs = 0;
    int received = 0;
    std::vector<double> latency;
    com.OnData = [&](TObject*, int32_t) {
        int64_t now = Clock::MonotonicNs();
        std::string text;
        com.ReadText(text);
        std::lock_guard lock(mutex);
        latency.push_back(static_cast<double>(now - sentNs) / 1e6);
        received += static_cast<int>(text.size());
        seen.notify_all();
    };
    com.Open();

    constexpr int kSamples = 50;
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        for (int i = 0; i < kSamples; ++i) {
            std::unique_lock lock(mutex);
            sentNs = Clock::MonotonicNs();
            if (::write(pty.master, "x", 1) != 1) break;
            seen.wait_for(lock, std::chrono::seconds(2), [&] { return received > i; });
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        writerDone = true;
    });
    while (!writerDone)
        RunFor(20);
    writer.join();
    Stats s = Summarise(latency);
    std::printf("data-event latency, %zu bytes: median %.3f ms, max %.3f ms\n", latency.size(), s.median,
                s.max);
    bool ok = Report("data-event latency (median)", s.median, 2.0, "ms");

    const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
    RunFor(3000);
    const double share = (CpuSeconds() - cpu0) / (WallSeconds() - wall0) * 100;
    ok &= Report("processor time, open idle port (3 s)", share, 1.0, "%");
    com.Close();
    return ok;
}

bool CountdownLoad() {
    TSuperTimer timer;
    timer.SetCountDown(true);  // the program's one-shot countdown of 1000 ms, three times
    QEventLoop loop;
    timer.OnStop = [&](TObject*) { loop.quit(); };
    const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
    for (int run = 0; run < 3; ++run) {
        timer.SetEnabled(true);
        loop.exec();
    }
    double share = (CpuSeconds() - cpu0) / (WallSeconds() - wall0) * 100;
    bool ok = Report("processor time, running countdown (3 x 1 s)", share, 1.0, "%");

    TSuperTimer ticker;  // fast ticks, where a busy wait would cost the most
    ticker.SetInterval(50);
    ticker.SetEnabled(true);
    const double wall1 = WallSeconds(), cpu1 = CpuSeconds();
    RunFor(3000);
    share = (CpuSeconds() - cpu1) / (WallSeconds() - wall1) * 100;
    ticker.SetEnabled(false);
    std::printf("%-44s %9.3f %%    (%d ticks)\n", "processor time, 50 ms ticks (3 s)", share, ticker.Ticks());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bool ok = CountdownLateness();
    ok &= DataLatencyAndIdlePort();
    ok &= CountdownLoad();
    TThread::WaitForFreeThreads();
    return ok ? 0 : 1;
}
