// The termios serial layer on pseudo-terminals: device names, error texts, line events and
// closing a device that another thread waits on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "platform/serial/Serial.h"
#include "platform/serial/SerialBaud.h"
#include "platform/serial/SerialTermios.h"
#include "support/PtyPair.h"

using namespace Serial;

namespace {

TEST(SerialNames, PortsMapToDevicePaths) {
    SetPortMap({{3, "/dev/ttyUSB0"}, {12, "/dev/ttyACM1"}});
    EXPECT_EQ(DevicePath("COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePath("COM12"), "/dev/ttyACM1");
    EXPECT_EQ(DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(DevicePath("COM4"), "/dev/ttyS3");
    EXPECT_EQ(DevicePath("/dev/ttyX"), "/dev/ttyX");
    for (const char* none : {"COM0", "COM-1", "COM", "COMx", "COM3x", "LPT1", "COM99999999999"})
        EXPECT_EQ(DevicePath(none), "") << none;
    EXPECT_EQ(PortMap().size(), 2u);
    SetPortMap({});
}

TEST(SerialNames, ErrorTexts) {
    EXPECT_EQ(Sys::FormatMessage(Sys::ERROR_INVALID_HANDLE), "Bad file descriptor");
    EXPECT_EQ(Sys::FormatMessage(Sys::ERROR_FILE_NOT_FOUND), "No such file or directory");
    EXPECT_EQ(Sys::FormatMessage(5), "Input/output error");
    EXPECT_EQ(Sys::CodeFromErrno(ENXIO), static_cast<uint32_t>(ENODEV));
}

// The exclusive flag belongs to the terminal: an open that fails leaves it as it found it, and a
// flag that another program set is never cleared by us.
TEST(SerialOpen, FailedOpensLeaveTheTerminalsExclusiveFlagAlone) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    const auto exclusive = [&] {
        int flag = -1;
        EXPECT_EQ(ioctl(other, TIOCGEXCL, &flag), 0);
        return flag;
    };
    TTermiosSerial api;
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);  // another program holds the device
    EXPECT_EQ(api.CreateFile(pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(exclusive(), 0);

    ASSERT_EQ(flock(other, LOCK_UN), 0);
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);  // the other program keeps ordinary users out itself
    const HANDLE handle = api.CreateFile(pty.SlavePath());
    if (handle != INVALID_HANDLE_VALUE) {  // root may open it all the same
        EXPECT_TRUE(api.CloseHandle(handle));
    }
    EXPECT_EQ(exclusive(), 1);
    ::close(other);
}

class SerialTermios : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        handle = api.CreateFile(pty.SlavePath());
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        COMMTIMEOUTS t;
        t.ReadIntervalTimeout = MAXDWORD;
        ASSERT_TRUE(api.SetCommTimeouts(handle, t));
        ASSERT_TRUE(api.SetupComm(handle, 4096, 2048));
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) api.CloseHandle(handle);
    }
    // Starts a wait for line events; returns true when it completed at once.
    bool StartWait() {
        mask = 0;
        overlapped = OVERLAPPED{};
        overlapped.hEvent = &event;
        bool done = api.WaitCommEvent(handle, &mask, &overlapped);
        if (!done) {
            EXPECT_EQ(GetLastError(), Sys::ERROR_IO_PENDING);
        }
        return done;
    }
    uint32_t AwaitMask(int TimeoutMs = 5000) {
        if (event.Wait(TimeoutMs) != Sync::WAIT_OBJECT_0) return 0xDEAD;
        return overlapped.Internal == 0 ? mask : 0xBAD;
    }

    PtyPair pty;
    TTermiosSerial api;
    HANDLE handle = INVALID_HANDLE_VALUE;
    Sync::TEventObject event{true, false};
    OVERLAPPED overlapped;
    uint32_t mask = 0;
};

TEST_F(SerialTermios, ArrivalsAndTheEventCharacterAreReportedOnce) {
    DCB dcb;
    ASSERT_TRUE(api.GetCommState(handle, dcb));
    dcb.BaudRate = 9600;
    dcb.EvtChar = '\n';
    ASSERT_TRUE(api.SetCommState(handle, dcb));
    ASSERT_TRUE(api.SetCommMask(handle, EV_RXCHAR | EV_RXFLAG));
    EXPECT_FALSE(StartWait());
    ASSERT_TRUE(pty.Write("ab"));
    EXPECT_EQ(AwaitMask(), EV_RXCHAR);
    // The unread bytes do not report again; new ones do, with the event character.
    EXPECT_FALSE(StartWait());
    EXPECT_EQ(AwaitMask(50), 0xDEADu);
    EXPECT_FALSE(StartWait());
    ASSERT_TRUE(pty.Write("c\n"));
    EXPECT_EQ(AwaitMask(), EV_RXCHAR | EV_RXFLAG);
    // Events that occurred before the wait started complete it at once.
    ASSERT_TRUE(pty.Write("d"));
    COMSTAT stat;
    for (int i = 0; i < 5000 && stat.cbInQue < 5; ++i) {  // until the byte is in
        ASSERT_TRUE(api.ClearCommError(handle, nullptr, &stat));
        if (stat.cbInQue < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(StartWait());
    EXPECT_EQ(mask, EV_RXCHAR);

    uint32_t errors = 99;
    ASSERT_TRUE(api.ClearCommError(handle, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 5u);
    char buffer[8];
    uint32_t read = 0;
    OVERLAPPED ov{};
    ov.hEvent = &event;
    ASSERT_TRUE(api.ReadFile(handle, buffer, sizeof buffer, &read, &ov));
    EXPECT_EQ(std::string(buffer, read), "abc\nd");
}

TEST_F(SerialTermios, OutputEmptyAndMaskChanges) {
    ASSERT_TRUE(api.SetCommMask(handle, EV_TXEMPTY));
    EXPECT_FALSE(StartWait());
    uint32_t written = 0;
    OVERLAPPED ov{};
    Sync::TEventObject io(true, false);
    ov.hEvent = &io;
    ASSERT_TRUE(api.WriteFile(handle, "hi", 2, &written, &ov));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(AwaitMask(), EV_TXEMPTY);  // a pseudo-terminal has no output queue
    EXPECT_EQ(pty.Read(2), "hi");

    // A new mask ends a pending wait with an empty mask.
    EXPECT_FALSE(StartWait());
    std::thread changer([&] { api.SetCommMask(handle, EV_RXCHAR); });
    EXPECT_EQ(AwaitMask(), 0u);
    changer.join();
}

TEST_F(SerialTermios, ClosingWakesAWaiterAndReleasesTheDevice) {
    ASSERT_TRUE(api.SetCommMask(handle, EV_RXCHAR));
    EXPECT_FALSE(StartWait());
    std::thread waiter([&] { event.Wait(Sync::INFINITE); });
    ASSERT_TRUE(api.CloseHandle(handle));
    waiter.join();
    EXPECT_EQ(overlapped.Internal, Sys::ERROR_OPERATION_ABORTED);
    // Every call on the closed handle fails with an invalid handle; the device is free again.
    DCB dcb;
    EXPECT_FALSE(api.GetCommState(handle, dcb));
    EXPECT_EQ(GetLastError(), Sys::ERROR_INVALID_HANDLE);
    HANDLE again = api.CreateFile(pty.SlavePath());
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_NE(again, handle);  // handles are not reused
    handle = again;
    EXPECT_EQ(api.CreateFile(pty.SlavePath()), INVALID_HANDLE_VALUE);  // and exclusive
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EBUSY));
}

TEST_F(SerialTermios, LineFormatsAndRatesWithoutAConstant) {
    DCB dcb;
    ASSERT_TRUE(api.GetCommState(handle, dcb));
    dcb.BaudRate = 14400;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.Flags = fBinary | fOutX | fInX;
    ASSERT_TRUE(api.SetCommState(handle, dcb));
    // A pseudo-terminal keeps 8 data bits without parity whatever it is told; the rest shows.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(ReadBaudRate(pty.Master()), 14400u);
    DCB back;
    ASSERT_TRUE(api.GetCommState(handle, back));
    EXPECT_EQ(back.BaudRate, 14400u);
    EXPECT_EQ(back.ByteSize, 7);
    dcb.ByteSize = 4;  // no such format on Linux
    EXPECT_FALSE(api.SetCommState(handle, dcb));
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EINVAL));
}

TEST_F(SerialTermios, AHungUpLineFailsWaitsAtOnce) {
    ASSERT_TRUE(api.SetCommMask(handle, EV_RXCHAR));
    pty.CloseMaster();
    int64_t start = Clock::MonotonicNs();
    for (int i = 0; i < 3; ++i) {
        mask = 123;
        overlapped = OVERLAPPED{};
        overlapped.hEvent = &event;
        EXPECT_FALSE(api.WaitCommEvent(handle, &mask, &overlapped));
        EXPECT_NE(GetLastError(), Sys::ERROR_IO_PENDING);
        EXPECT_EQ(mask, 0u);
    }
    EXPECT_LT(Clock::MonotonicNs() - start, 1000000000LL);
}

}  // namespace
