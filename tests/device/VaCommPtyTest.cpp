// The serial component on real pseudo-terminals: line settings, data both ways, data events on
// the GUI thread, errors, and the life cycle of the watcher.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/VaComm.h"
#include "platform/Application.h"
#include "platform/serial/Serial.h"
#include "support/OtherProcess.h"
#include "support/PtyPair.h"

namespace {

constexpr int kPort = 7;

// Waits without dispatching events, so nothing queued for the GUI thread runs meanwhile.
template <class Condition>
bool WaitWithoutEvents(Condition Done, int TimeoutMs = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Configure(TVaComm& Com) {
    Com.SetPortNum(kPort);
    Com.SetBaudrate(br9600);
    Com.SetMonitorEvents({ceData});
    Com.SetFlowControl(fcNone);
    Com.SetDTRControl(dtrDisable);
    Com.SetRTSControl(rtsDisable);
}

std::string ErrorOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const EVaCommError& e) {
        return e.Message();
    }
    return "(no error)";
}

class VaCommPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        Serial::SetPortMap({{kPort, pty.SlavePath()}});
        Configure(com);
    }
    void TearDown() override {
        com.OnData = nullptr;
        try {
            com.Close();
        } catch (...) {
        }
        Serial::SetPortMap({});
        Application::SetExceptionHandler(nullptr);
    }

    PtyPair pty;
    TVaComm com;
};

TEST_F(VaCommPty, OpensThroughThePortMapWithTheSystemsLineSettings) {
    com.Open();
    ASSERT_TRUE(com.IsOpen());
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);  // the master reads the terminal's settings
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    // A change while open reaches the device at once.
    com.SetBaudrate(br19200);
    ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
}

TEST_F(VaCommPty, BytesGoBothWaysAndDataEventsRunOnTheGuiThread) {
    std::string received;
    std::vector<int> counts;
    bool onGuiThread = true;
    com.OnData = [&](TObject* sender, int32_t count) {
        onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        EXPECT_EQ(sender, &com);
        counts.push_back(count);
        std::string text;
        com.ReadText(text);
        received += text;
    };
    com.Open();
    ASSERT_TRUE(pty.Write(std::string("hello\r\n\0\xff", 9)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 9; }, 5000));
    EXPECT_EQ(received, std::string("hello\r\n\0\xff", 9));  // raw: no translation, all byte values
    EXPECT_TRUE(onGuiThread);
    for (int c : counts)
        EXPECT_GT(c, 0);

    EXPECT_TRUE(com.WriteChar('y'));
    EXPECT_EQ(pty.Read(1), "y");
    std::string block(3000, 'z');
    EXPECT_EQ(com.WriteBuf(block.data(), static_cast<int32_t>(block.size())), 3000);
    EXPECT_EQ(pty.Read(3000), block);
}

TEST_F(VaCommPty, BytesThatArriveWhileTheGuiIsBusyComeInOneEvent) {
    std::vector<int> counts;
    std::string received;
    com.OnData = [&](TObject*, int32_t count) {
        counts.push_back(count);
        std::string text;
        com.ReadText(text);
        received += text;
    };
    com.Open();
    // The GUI thread is busy (no events dispatched) while three writes arrive.
    for (const char* part : {"ab", "cd", "ef"}) {
        ASSERT_TRUE(pty.Write(part));
        ASSERT_TRUE(WaitWithoutEvents([&] { return TThread::QueuedHandOffs() > 0; }));
    }
    ASSERT_TRUE(WaitWithoutEvents([&] { return com.InQueCount() == 6; }));
    // A marker after them: once it is in, every earlier event has run.
    ASSERT_TRUE(QTest::qWaitFor([&] { return received == "abcdef"; }, 5000));
    ASSERT_TRUE(pty.Write("g"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return received == "abcdefg"; }, 5000));
    EXPECT_EQ(counts, (std::vector<int>{6, 1}));
}

TEST_F(VaCommPty, NoEventForBytesAlreadyReadAndLargerCountsForUnreadOnes) {
    std::vector<int> counts;
    com.OnData = [&](TObject*, int32_t count) { counts.push_back(count); };  // never reads
    com.Open();
    ASSERT_TRUE(pty.Write("ab"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() == 1; }, 5000));
    ASSERT_TRUE(pty.Write("cde"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() == 2; }, 5000));
    EXPECT_EQ(counts, (std::vector<int>{2, 5}));  // the unread bytes are counted again

    std::string text;
    com.ReadText(text);
    EXPECT_EQ(text, "abcde");
    // Bytes that the GUI thread reads before their event runs: that event fires nothing.
    ASSERT_TRUE(pty.Write("xyz"));
    ASSERT_TRUE(WaitWithoutEvents([&] { return com.InQueCount() == 3; }));
    com.ReadText(text);
    EXPECT_EQ(text, "xyz");
    ASSERT_TRUE(pty.Write("q"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() == 3; }, 5000));
    EXPECT_EQ(counts, (std::vector<int>{2, 5, 1}));
}

// The designed message comes first; a second line names the device, the reason and the remedy.
TEST_F(VaCommPty, OpenErrors) {
    TVaComm other;
    Configure(other);
    other.SetPortNum(0);
    EXPECT_EQ(ErrorOf([&] { other.Open(); }), "Invalid port number (COM0)");
    other.SetPortNum(-3);
    EXPECT_EQ(ErrorOf([&] { other.Open(); }), "Invalid port number (COM-3)");
    Serial::SetPortMap({{kPort, pty.SlavePath()}, {8, "/dev/no-such-tty"}, {9, "/dev/null"}});
    other.SetPortNum(8);
    EXPECT_EQ(ErrorOf([&] { other.Open(); }),
              "Invalid port number (COM8)\n/dev/no-such-tty: not connected. Plug the adapter in.");
    other.SetPortNum(9);  // exists, but is not a terminal
    EXPECT_EQ(ErrorOf([&] { other.Open(); }), "Can't open device COM9\n/dev/null: not a serial device.");
    EXPECT_FALSE(other.IsOpen());

    // An ordinary user outside the device's group is told which group to join, and how. The terminal is
    // given to the group of serial devices, as a real port is.
    other.SetPortNum(kPort);
    const group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    std::optional<std::string> refused;
    if (chown(pty.SlavePath().c_str(), 0, dialout->gr_gid) == 0 && chmod(pty.SlavePath().c_str(), 0660) == 0)
        refused = RunAsNobody([&] { return ErrorOf([&] { other.Open(); }); });
    if (refused) {
        EXPECT_EQ(*refused,
                  "Can't open device COM7\n" + pty.SlavePath() +
                      ": permission denied. Only members of the group \"dialout\" may use it. Join it "
                      "with \"sudo usermod -aG dialout nobody\", then log out and in again: the "
                      "membership holds from the next login.");
    }

    // Another program that holds the device is named, with its process id; one that took no lock holds
    // it off all the same, even for root, who is not held off by the exclusive flag.
    for (const bool lock : {true, false}) {
        SCOPED_TRACE(lock ? "with a lock" : "without a lock");
        DeviceHolder holder(pty.SlavePath(), lock);
        ASSERT_TRUE(holder.Holding());
        const std::string busy = ErrorOf([&] { other.Open(); });
        EXPECT_EQ(
            busy.rfind("Can't open device COM7\n" + pty.SlavePath() + ": in use by another program (", 0), 0u)
            << busy;
        EXPECT_NE(busy.find(" (process " + std::to_string(holder.Pid()) +
                            ")). Close it, then choose the port again."),
                  std::string::npos)
            << busy;
    }

    // The port is exclusive, also within one program.
    com.Open();
    EXPECT_EQ(ErrorOf([&] { other.Open(); }),
              "Can't open device COM7\n" + pty.SlavePath() + ": already open in this program.");
    EXPECT_FALSE(other.IsOpen());

    // Open on an open port changes nothing: the watcher still delivers.
    int events = 0;
    com.OnData = [&](TObject*, int32_t) {
        ++events;
        std::string text;
        com.ReadText(text);
    };
    EXPECT_EQ(ErrorOf([&] { com.Open(); }), "Can't perform this operation when port is open");
    EXPECT_TRUE(com.IsOpen());
    ASSERT_TRUE(pty.Write("k"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return events == 1; }, 5000));

    // Once closed, the other component gets the port.
    com.Close();
    other.Open();
    EXPECT_TRUE(other.IsOpen());
    if (!refused) GTEST_SKIP() << "the permission case needs root and a user nobody";
}

// A device that no group may use (root's own group, or a group without read and write access): joining
// a group would not help, so the hint says who can open it and points at the udev rules instead.
TEST_F(VaCommPty, PermissionHintSuggestsAGroupOnlyWhereOneHelps) {
    TVaComm other;
    Configure(other);
    const group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    struct Case {
        gid_t gid;
        mode_t mode;
        std::string expected;
    };
    const std::string path = pty.SlavePath();
    const std::string udev =
        "); no group gives access. Its permissions come from the system's udev rules: a rule that gives it a "
        "group with read and write access (as serial adapters have \"dialout\") lets the members of that "
        "group use it.";
    const std::vector<Case> cases = {
        {0, 0600,
         path + ": permission denied. Only root can open it (owner root, group root, mode 0600" + udev},
        {0, 0660,
         path + ": permission denied. Only root can open it (owner root, group root, mode 0660" + udev},
        {dialout->gr_gid, 0640,
         path + ": permission denied. Only root can open it (owner root, group dialout, mode 0640" + udev},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(chown(path.c_str(), 0, c.gid), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        const std::optional<std::string> refused =
            RunAsNobody([&] { return ErrorOf([&] { other.Open(); }); });
        if (!refused) GTEST_SKIP() << "needs root and a user nobody";
        EXPECT_EQ(*refused, "Can't open device COM7\n" + c.expected);
        EXPECT_EQ(refused->find("usermod"), std::string::npos);
    }
}

TEST_F(VaCommPty, ClosedPortAndFullLine) {
    EXPECT_EQ(ErrorOf([&] { com.WriteChar('x'); }), "Write error (6), Bad file descriptor");
    std::string text = "old";
    com.ReadText(text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(com.InQueCount(), 0);

    // Nobody reads the far end: once the line is full, a write gives up after WriteTimeout.
    com.SetWriteTimeout(100);
    com.Open();
    std::string block(1 << 16, 'f');
    int32_t written = 1;
    for (int i = 0; i < 64 && written != 0; ++i)
        written = com.WriteBuf(block.data(), static_cast<int32_t>(block.size()));
    EXPECT_EQ(written, 0);
    EXPECT_FALSE(com.WriteChar('x'));
}

TEST_F(VaCommPty, CloseSilencesAnEventAlreadyWaitingForTheGuiThread) {
    int events = 0;
    int closes = 0;
    com.OnData = [&](TObject*, int32_t) { ++events; };
    com.OnClose = [&](TObject*) { ++closes; };
    com.Open();
    ASSERT_TRUE(pty.Write("a"));
    ASSERT_TRUE(WaitWithoutEvents([] { return TThread::QueuedHandOffs() > 0; }));
    com.Close();
    EXPECT_EQ(closes, 1);
    ASSERT_TRUE(QTest::qWaitFor([] { return TThread::QueuedHandOffs() == 0; }, 5000));
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 0; }, 5000));
}

TEST_F(VaCommPty, ReopeningAtOnceLeavesExactlyOneWatcher) {
    std::vector<int> counts;
    com.OnData = [&](TObject*, int32_t count) { counts.push_back(count); };  // never reads
    com.Open();
    com.Close();
    com.Open();
    EXPECT_TRUE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 1; }, 5000));
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(pty.Write("x"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() == static_cast<size_t>(i); }, 5000));
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 3}));
}

TEST_F(VaCommPty, DestroyingAnOpenComponentClosesItWithoutOnClose) {
    int closes = 0;
    auto doomed = std::make_unique<TVaComm>();
    Configure(*doomed);
    doomed->OnClose = [&](TObject*) { ++closes; };
    doomed->Open();
    doomed.reset();
    EXPECT_EQ(closes, 0);
    com.Open();  // the device was really let go
    EXPECT_TRUE(com.IsOpen());
}

TEST_F(VaCommPty, AFarEndThatGoesAwayNeitherHangsNorSpins) {
    std::vector<std::string> errors;
    Application::SetExceptionHandler([&](const std::exception& e) { errors.push_back(e.what()); });
    int events = 0;
    com.OnData = [&](TObject*, int32_t) {
        ++events;
        std::string text;
        com.ReadText(text);
    };
    com.Open();
    ASSERT_TRUE(pty.Write("a"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return events == 1; }, 5000));
    pty.CloseMaster();
    const double before = CpuSeconds();
    QTest::qWait(1000);
    EXPECT_LT(CpuSeconds() - before, 0.3);
    EXPECT_LE(errors.size(), 1u);
    // A vanished device closes without an error, so the operator can choose a port again at once.
    EXPECT_NO_THROW(com.Close());
    EXPECT_FALSE(com.IsOpen());
    EXPECT_TRUE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 0; }, 5000));
}

TEST_F(VaCommPty, ClosingLeavesTheTerminalOpenableForOthers) {
    // Another process (a simulator, say) keeps the terminal open; our exclusive claim must end with
    // our use of it, or the next open by an ordinary user would be refused.
    const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    com.Open();
    int exclusive = 0;
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    com.Close();
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    com.Open();
    EXPECT_TRUE(com.IsOpen());
    ::close(other);
}

}  // namespace
