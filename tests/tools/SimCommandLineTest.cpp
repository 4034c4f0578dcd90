// zbeacon-sim's options, and the built program run as a child process.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/tools/PtyPeer.h"
#include "tools/sim/SimCommandLine.h"

extern char** environ;

using namespace zbsim;
using namespace zbsim_test;

namespace {

// The simulator program with its standard input on a pipe we hold and its output (both streams) on
// another.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        std::vector<std::string> all = {ZBEACON_SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, ZBEACON_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
    }
    ~SimProcess() {
        CloseInput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Type(const std::string& text) {
        ASSERT_EQ(::write(input_, text.data(), text.size()), (ssize_t)text.size());
    }
    void CloseInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }

    // Reads the output until the pattern matches it; returns the first capture group (or the match).
    std::string ReadUntil(const std::string& pattern) {
        const std::regex re(pattern);
        const int64_t deadline = SteadyNs() + 15'000'000'000;
        for (;;) {
            std::smatch m;
            if (std::regex_search(text_, m, re)) return m.size() > 1 ? m[1].str() : m[0].str();
            if (!ReadSome(deadline)) return "";
        }
    }
    // Reads to the end of the output, which comes when the program ends; then its exit status.
    int Finish() {
        const int64_t deadline = SteadyNs() + 15'000'000'000;
        while (!eof_) {
            if (!ReadSome(deadline)) return -1;
        }
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& Text() const { return text_; }

private:
    bool ReadSome(int64_t deadline) {
        const int64_t left = deadline - SteadyNs();
        if (left <= 0 || eof_) return false;
        pollfd p{output_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left / 1'000'000) + 1) <= 0) return errno == EINTR;
        char buffer[4096];
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n <= 0) {
            eof_ = true;
            return true;
        }
        text_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool eof_ = false;
    std::string text_;
};

const std::string kQuestion = "Change program? y/n\r\n";

}  // namespace

TEST(SimProgram, PrintsTheSettingsLineSwitchesOnBySignalAndEndsCleanlyOnSigterm) {
    SimProcess sim({"--port", "7", "--program", "HELLOZ"});
    ASSERT_TRUE(sim.Started());
    const std::string path = sim.ReadUntil("\nCOM7=(/dev/[^\n]+)\n");
    ASSERT_FALSE(path.empty()) << sim.Text();

    PtyPeer tool(path);
    ASSERT_TRUE(tool.IsOpen());
    ASSERT_EQ(::kill(sim.Pid(), SIGUSR1), 0);
    ASSERT_TRUE(tool.Expect("HELLOZ\r\n" + kQuestion));
    ASSERT_TRUE(tool.Send("n"));
    ASSERT_TRUE(tool.Expect("Beacon running\r\n"));
    // The transcript shows both directions with readable control characters.
    EXPECT_NE(sim.ReadUntil("beacon Beacon running<CR><LF>"), "") << sim.Text();

    // The tool closing and reopening the port does not disturb the simulator.
    tool.Close();
    ASSERT_TRUE(tool.Open(path));
    ASSERT_EQ(::kill(sim.Pid(), SIGUSR1), 0);
    ASSERT_TRUE(tool.Expect(kQuestion));

    ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
    EXPECT_EQ(sim.Finish(), 0) << sim.Text();
    EXPECT_NE(sim.Text().find("beacon Change program? y/n<CR><LF>"), std::string::npos) << sim.Text();
    EXPECT_NE(sim.Text().find("tool   n"), std::string::npos) << sim.Text();
    EXPECT_NE(sim.Text().find("Stored program: HELLOZ\n"), std::string::npos) << sim.Text();
    EXPECT_NE(sim.Text().find("Slot table:     100000000000100000000000\n"), std::string::npos);
    EXPECT_NE(sim.Text().find("Answer delays:  1 answer, median "), std::string::npos) << sim.Text();
}

TEST(SimProgram, EnterSwitchesOnAndQOrTheEndOfInputQuits) {
    {
        SimProcess sim({"--sync"});
        const std::string path = sim.ReadUntil("\nCOM9=(/dev/[^\n]+)\n");
        ASSERT_FALSE(path.empty()) << sim.Text();
        PtyPeer tool(path);
        sim.Type("\n");
        ASSERT_TRUE(tool.Expect(kQuestion));
        sim.Type("what\n");
        EXPECT_NE(sim.ReadUntil("Press Enter to switch the beacon on, q and Enter to quit"), "");
        sim.Type("q\n");
        EXPECT_EQ(sim.Finish(), 0) << sim.Text();
    }
    {
        SimProcess sim({});
        ASSERT_NE(sim.ReadUntil("\nCOM9=(/dev/[^\n]+)\n"), "") << sim.Text();
        sim.CloseInput();
        EXPECT_EQ(sim.Finish(), 0) << sim.Text();
        EXPECT_NE(sim.Text().find("Answer delays:  none"), std::string::npos) << sim.Text();
    }
    {
        // Without input, only signals control it: a closed input does not end it.
        SimProcess sim({"--no-input"});
        const std::string path = sim.ReadUntil("\nCOM9=(/dev/[^\n]+)\n");
        ASSERT_FALSE(path.empty()) << sim.Text();
        sim.CloseInput();
        PtyPeer tool(path);
        ASSERT_EQ(::kill(sim.Pid(), SIGUSR1), 0);
        ASSERT_TRUE(tool.Expect(kQuestion));
        ASSERT_EQ(::kill(sim.Pid(), SIGINT), 0);
        EXPECT_EQ(sim.Finish(), 0) << sim.Text();
    }
}

// The link names the device while the simulator runs and goes with it, so that a simulator started again
// under the same name is reached through the same path, as a replugged adapter is through its stable name.
TEST(SimProgram, TheLinkFollowsTheDeviceAcrossRestartsAndGoesAtTheEnd) {
    char folder[] = "/tmp/zbsim-link-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/beacon";
    for (int run = 0; run < 2; ++run) {
        SimProcess sim({"--no-input", "--program", "AZ", "--link", link});
        ASSERT_EQ(sim.ReadUntil("\nCOM9=(/[^\n]+)\n"), link) << sim.Text();
        PtyPeer tool(link);
        ASSERT_TRUE(tool.IsOpen());
        ASSERT_EQ(::kill(sim.Pid(), SIGUSR1), 0);
        ASSERT_TRUE(tool.Expect("AZ\r\n" + kQuestion));
        tool.Close();
        ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
        EXPECT_EQ(sim.Finish(), 0) << sim.Text();
        struct stat st {};
        EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlived the simulator";
    }
    // A name taken by something that is not a link is refused, not replaced.
    const int file = ::open(link.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(file, 0);
    ::close(file);
    SimProcess refused({"--no-input", "--link", link});
    EXPECT_EQ(refused.Finish(), 1) << refused.Text();
    EXPECT_NE(refused.Text().find("is not a symbolic link"), std::string::npos) << refused.Text();
    ::unlink(link.c_str());
    ::rmdir(folder);
}

TEST(SimProgram, FaultyOptionsAreReportedWithStatusTwoAndHelpExplainsEverything) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--slots", "101"}, {"--port", "0"}, {"--bogus"}, {"--chunk"}}) {
        SimProcess sim(args);
        EXPECT_EQ(sim.Finish(), 2) << args[0];
        EXPECT_NE(sim.Text().find("zbeacon-sim: "), std::string::npos) << sim.Text();
    }
    SimProcess help({"--help"});
    EXPECT_EQ(help.Finish(), 0);
    for (const char* option :
         {"--sync", "--program", "--slots", "--char-delay-us", "--chunk", "--chunk-gap-ms", "--echo",
          "--port", "--link", "--no-input", "SIGUSR1", "[Ports]", "Custom ...", "q then Enter"}) {
        EXPECT_NE(help.Text().find(option), std::string::npos) << option;
    }
}

TEST(SimCommandLine, ParsesEveryOptionInBothSpellings) {
    CommandLine cli;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(
        {"--sync", "--program", "ABZ", "--slots=111111111111000000000000", "--char-delay-us", "0",
         "--chunk=4", "--chunk-gap-ms", "30", "--echo", "--port=12", "--no-input", "--link", "/tmp/beacon"},
        &cli, &error))
        << error;
    EXPECT_TRUE(cli.beacon.synchronized);
    EXPECT_EQ(cli.beacon.program, "ABZ");
    EXPECT_EQ(cli.beacon.slotTable, "111111111111000000000000");
    EXPECT_EQ(cli.beacon.charDelayUs, 0);
    EXPECT_EQ(cli.beacon.chunkSize, 4u);
    EXPECT_EQ(cli.beacon.chunkGapMs, 30);
    EXPECT_TRUE(cli.beacon.echo);
    EXPECT_EQ(cli.port, 12);
    EXPECT_FALSE(cli.readInput);
    EXPECT_EQ(cli.beacon.linkPath, "/tmp/beacon");
    EXPECT_EQ(PortsLine(cli.port, "/dev/pts/3"), "COM12=/dev/pts/3");

    CommandLine defaults;
    ASSERT_TRUE(ParseCommandLine({}, &defaults, &error));
    EXPECT_EQ(defaults.port, 9);
    EXPECT_EQ(defaults.beacon.charDelayUs, 1000);
    EXPECT_EQ(defaults.beacon.program, "PSDvvvSQSZ");
    EXPECT_TRUE(defaults.readInput);
    // An empty stored program is allowed.
    ASSERT_TRUE(ParseCommandLine({"--program="}, &defaults, &error));
    EXPECT_EQ(defaults.beacon.program, "");
}

TEST(SimCommandLine, RejectsBadValuesWithAReasonAndLeavesTheResultAlone) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--port", "256"},
                                               {"--port", "x"},
                                               {"--port", "7x"},
                                               {"--port", ""},
                                               {"--chunk", "-1"},
                                               {"--char-delay-us", "99999999999999999999"},
                                               {"--chunk-gap-ms"},
                                               {"--sync=1"},
                                               {"--link="},
                                               {"--slots", "10"},
                                               {"--program", "A\tZ"},
                                               {"extra"}}) {
        CommandLine cli;
        cli.port = 42;
        std::string error;
        EXPECT_FALSE(ParseCommandLine(args, &cli, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
        EXPECT_EQ(cli.port, 42);
    }
}
