// zbeacon-sim: a beacon on a pseudo-terminal for trying the setup tool without hardware.
// Run with --help for the controls.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "tools/sim/BeaconSimulator.h"
#include "tools/sim/SimCommandLine.h"
#include "tools/sim/TranscriptPrinter.h"

namespace {

// Written by the signal handler: one byte per signal, the signal number.
int gSignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signo) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] ssize_t written = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

bool MakePipe(int fds[2]) {
    if (pipe(fds) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        if (fcntl(fds[i], F_SETFL, fcntl(fds[i], F_GETFL) | O_NONBLOCK) != 0 ||
            fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0) {
            return false;
        }
    }
    return true;
}

void Drain(int fd) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Standard output is shared by the main thread and the simulator's worker (the transcript).
class Output {
public:
    void Write(const std::string& text) {
        std::lock_guard lock(mutex_);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
};

enum class Input { SwitchOn, Quit, Unknown };

// Splits what arrived on standard input into lines and turns each into a command.
class LineReader {
public:
    std::vector<Input> Take(const char* data, size_t size) {
        std::vector<Input> commands;
        for (size_t i = 0; i < size; ++i) {
            if (data[i] != '\n') {
                if (line_.size() < 256) line_ += data[i];
                continue;
            }
            commands.push_back(Interpret(line_));
            line_.clear();
        }
        return commands;
    }

private:
    static Input Interpret(std::string line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.erase(0, 1);
        if (line.empty()) return Input::SwitchOn;
        if (line == "q" || line == "Q" || line == "quit") return Input::Quit;
        return Input::Unknown;
    }
    std::string line_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace zbsim;
    CommandLine cli;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &cli, &error)) {
        std::fprintf(stderr, "zbeacon-sim: %s\nTry 'zbeacon-sim --help'.\n", error.c_str());
        return 2;
    }
    if (cli.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }

    int wakePipe[2] = {-1, -1};  // the transcript printer has a partial line waiting
    if (!MakePipe(gSignalPipe) || !MakePipe(wakePipe)) {
        std::fprintf(stderr, "zbeacon-sim: cannot create a pipe: %s\n", std::strerror(errno));
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaction(signo, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Output out;
    TranscriptPrinter printer([&out](const std::string& line) { out.Write(line); });
    BeaconSimulator sim(cli.beacon);
    sim.SetTranscriptSink([&](const TranscriptEntry& entry) {
        printer.Add(entry);
        if (printer.DueNs() >= 0) {
            const char byte = 1;
            [[maybe_unused]] ssize_t written = ::write(wakePipe[1], &byte, 1);
        }
    });
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "zbeacon-sim: %s\n", error.c_str());
        return 1;
    }

    const std::string device = sim.DevicePath();
    const std::string path = cli.beacon.linkPath.empty() ? device : cli.beacon.linkPath;
    std::string banner = std::string("Beacon simulator: ") +
                         (cli.beacon.synchronized ? "synchronized" : "normal") + " beacon on " + device +
                         (cli.beacon.linkPath.empty() ? "" : " (linked as " + path + ")") + "\n";
    banner += "Paste this path into the tool's Options > Comm > Custom ...:\n    " + path + "\n";
    banner += "or put this line under [Ports] in zbeacon.ini and choose port " + std::to_string(cli.port) +
              " there:\n";
    banner += PortsLine(cli.port, path) + "\n";
    out.Write(banner);

    LineReader reader;
    const bool readInput = cli.readInput;
    bool quit = false;
    int status = 0;
    while (!quit) {
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = pollfd{gSignalPipe[0], POLLIN, 0};
        fds[count++] = pollfd{wakePipe[0], POLLIN, 0};
        if (readInput) fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
        int timeoutMs = -1;
        const int64_t due = printer.DueNs();
        if (due >= 0) {
            const int64_t wait = due - NowNs();
            timeoutMs = wait <= 0 ? 0 : static_cast<int>((wait + 999'999) / 1'000'000);
        }
        const int ready = ::poll(fds, count, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            out.Write(std::string("zbeacon-sim: poll failed: ") + std::strerror(errno) + "\n");
            status = 1;
            break;
        }
        printer.FlushIfQuiet(NowNs());
        if (ready <= 0) continue;
        if (fds[0].revents & POLLIN) {
            unsigned char signals[16];
            ssize_t got;
            while ((got = ::read(gSignalPipe[0], signals, sizeof signals)) > 0) {
                for (ssize_t i = 0; i < got; ++i) {
                    if (signals[i] == SIGUSR1) {
                        sim.SwitchOn();
                    } else {
                        quit = true;
                    }
                }
            }
        }
        if (fds[1].revents & POLLIN) Drain(wakePipe[0]);
        if (readInput && (fds[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            char buffer[256];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) {
                // End of input: a last unterminated "q" or empty line changes nothing; we end anyway.
                quit = true;
                continue;
            }
            for (Input input : reader.Take(buffer, static_cast<size_t>(got))) {
                if (input == Input::SwitchOn) sim.SwitchOn();
                if (input == Input::Quit) quit = true;
                if (input == Input::Unknown)
                    out.Write("Press Enter to switch the beacon on, q and Enter to quit.\n");
            }
        }
    }

    sim.Stop();
    sim.SetTranscriptSink(nullptr);
    printer.Flush();
    out.Write("\n" + FormatSummary(sim.StoredProgram(), sim.Slots(), sim.AnswerLog()));
    return status;
}
