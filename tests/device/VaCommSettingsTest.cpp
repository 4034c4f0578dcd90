// The serial component's logic against a fake serial layer: line settings, error paths,
// event dispatch and the watcher's hand-off.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>

#include "support/OrdinaryUser.h"
#endif

#include "device/FakeSerial.h"
#include "device/VaComm.h"
#include "platform/Application.h"

using namespace Serial;

namespace {

// The system's text for code 5 as the component's messages carry it (an I/O error on Linux; on
// Windows access denied, without the full stop).
std::string TextOfFive() {
#ifdef _WIN32
    std::string text = Sys::FormatMessage(5);
    while (!text.empty() && (text.back() == '.' || static_cast<unsigned char>(text.back()) <= 32))
        text.pop_back();
    return text;
#else
    return "Input/output error";
#endif
}

class VaCommFake : public ::testing::Test {
protected:
    void SetUp() override {
        com.SetPortNum(3);
        com.SetBaudrate(br9600);
        com.SetMonitorEvents({ceData});
        com.SetFlowControl(fcNone);
        com.SetDTRControl(dtrDisable);
        com.SetRTSControl(rtsDisable);
    }
    void TearDown() override {
        com.OnData = nullptr;
        try {
            com.Close();
        } catch (...) {
        }
        Application::SetExceptionHandler(nullptr);
        TThread::WaitForFreeThreads();  // the watcher may still use the fake layer
    }
    std::string OpenError() {
        try {
            com.Open();
        } catch (const EVaCommError& e) {
            return e.Message();
        }
        return "(no error)";
    }

    FakeSerial fake;
    TVaComm com;
};

TEST_F(VaCommFake, OpenConfiguresTheDeviceInOrder) {
    com.Open();
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(fake.lastName, "COM3");
    EXPECT_EQ(fake.Calls(), (std::vector<std::string>{"CreateFile", "GetCommState", "SetCommState",
                                                      "SetCommTimeouts", "SetupComm", "SetCommMask"}));
    EXPECT_EQ(fake.timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(fake.timeouts.ReadTotalTimeoutConstant + fake.timeouts.ReadTotalTimeoutMultiplier +
                  fake.timeouts.WriteTotalTimeoutConstant + fake.timeouts.WriteTotalTimeoutMultiplier,
              0u);
    EXPECT_EQ(fake.queues, (std::pair<int32_t, int32_t>{4096, 2048}));
    EXPECT_EQ(fake.mask, EV_RXCHAR);

    // The system's line: 9600 8N1, binary and abort-on-error only, default characters and limits.
    const DCB& d = fake.device;
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.Flags, 0x4001u);
    EXPECT_EQ(d.XonLim, 1024);
    EXPECT_EQ(d.XoffLim, 1024);
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_EQ(d.ErrorChar, 0);
    EXPECT_EQ(d.EvtChar, 0);
    // What the component does not set keeps what the device reported.
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.EofChar, 26);
}

TEST_F(VaCommFake, FlagWordForEveryHandshakeAndLineControl) {
    const uint32_t dtrBits[] = {0x0000, 0x0010, 0x0020};
    const uint32_t rtsBits[] = {0x0000, 0x1000, 0x2000, 0x3000};
    const uint32_t flowBits[] = {0x0000, 0x2004, 0x0028, 0x0300};
    com.Open();
    for (int flow = fcNone; flow <= fcXonXoff; ++flow) {
        for (int dtr = dtrDisable; dtr <= dtrHandshake; ++dtr) {
            for (int rts = rtsDisable; rts <= rtsToggle; ++rts) {
                com.SetFlowControl(static_cast<TVaFlowControl>(flow));
                com.SetDTRControl(static_cast<TVaDTRControl>(dtr));
                com.SetRTSControl(static_cast<TVaRTSControl>(rts));
                uint32_t expected = 0x4001 | flowBits[flow];
                if (flow != fcDtrDsr) expected |= dtrBits[dtr];  // DTR/DSR handshake owns DTR
                if (flow != fcRtsCts) expected |= rtsBits[rts];  // RTS/CTS handshake owns RTS
                EXPECT_EQ(fake.device.Flags, expected) << "flow " << flow << " dtr " << dtr << " rts " << rts;
            }
        }
    }
    com.SetFlowControl(fcNone);
    com.SetDTRControl(dtrDisable);
    com.SetRTSControl(rtsDisable);
    com.SetOptions({coContinueOnXOff, coErrorChar, coNullStrip, coParityCheck, coDsrSensitivity});
    EXPECT_EQ(fake.device.Flags, 0x4001u | 0x0080 | 0x0400 | 0x0800 | 0x0002 | 0x0040);
    com.SetOptions({coParityCheck});
    EXPECT_EQ(fake.device.Flags, 0x4003u);
}

TEST_F(VaCommFake, LineFieldsFollowTheProperties) {
    com.Open();
    const uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                              19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int b = br110; b <= br256000; ++b) {
        com.SetBaudrate(static_cast<TVaBaudrate>(b));
        EXPECT_EQ(fake.device.BaudRate, rates[b]);
    }
    com.SetDatabits(db7);
    com.SetParity(paSpace);
    com.SetStopbits(sb2);
    com.SetXonLim(0x12345);  // the record holds the low 16 bits
    com.SetXoffLim(77);
    EXPECT_EQ(fake.device.ByteSize, 7);
    EXPECT_EQ(fake.device.Parity, SPACEPARITY);
    EXPECT_EQ(fake.device.StopBits, TWOSTOPBITS);
    EXPECT_EQ(fake.device.XonLim, 0x2345);
    EXPECT_EQ(fake.device.XoffLim, 77);
}

TEST_F(VaCommFake, SettingsAreWrittenOnlyForChangesAndEventCharsOnce) {
    com.Open();
    size_t before = fake.written.size();
    com.SetBaudrate(br9600);  // the current value: nothing happens
    com.SetFlowControl(fcNone);
    EXPECT_EQ(fake.written.size(), before);

    TVaEventChars chars;
    chars.SetXonChar(1);
    chars.SetXoffChar(2);
    chars.SetErrorChar(3);
    chars.SetEventChar(4);
    com.SetEventChars(chars);
    EXPECT_EQ(fake.written.size(), before + 1);
    EXPECT_EQ(fake.device.XonChar, 1);
    EXPECT_EQ(fake.device.XoffChar, 2);
    EXPECT_EQ(fake.device.ErrorChar, 3);
    EXPECT_EQ(fake.device.EvtChar, 4);

    com.EventChars().SetEventChar(4);  // one character, even unchanged, re-applies
    EXPECT_EQ(fake.written.size(), before + 2);
    com.SetEventChars(com.EventChars());  // assigning itself is one change too
    EXPECT_EQ(fake.written.size(), before + 3);

    // While closed the values are only stored, and take effect at the next Open.
    com.Close();
    com.SetBaudrate(br19200);
    EXPECT_EQ(fake.written.size(), before + 3);
    com.Open();
    EXPECT_EQ(fake.device.BaudRate, 19200u);
}

TEST_F(VaCommFake, EventCharsAssignRefusesOtherClasses) {
    TVaPersistent other;
    EXPECT_THROW(com.EventChars().Assign(other), EConvertError);
    int changes = 0;
    TVaEventChars chars;
    chars.OnChange = [&](TObject*) { ++changes; };
    chars.BeginUpdate();
    chars.SetXonChar(5);
    chars.SetXoffChar(6);
    EXPECT_EQ(changes, 0);
    chars.EndUpdate();
    EXPECT_EQ(changes, 1);
}

TEST_F(VaCommFake, EveryFailingStepOfOpenClosesTheDeviceAndRaisesItsMessage) {
    const std::pair<std::string, std::string> steps[] = {
        {"GetCommState", "Error reading dcb (5), " + TextOfFive()},
        {"SetCommState", "Error writing dcb (5), " + TextOfFive()},
        {"SetCommTimeouts", "Error setting timeouts (5), " + TextOfFive()},
        {"SetupComm", "Error initializing buffers (5), " + TextOfFive()},
        {"SetCommMask", " Error setting EventMask (5), " + TextOfFive()},
    };
    for (const auto& [operation, message] : steps) {
        fake.FailWith(operation, 5);
        fake.ClearCalls();
        EXPECT_EQ(OpenError(), message);
        EXPECT_FALSE(com.IsOpen());
        EXPECT_FALSE(fake.isOpen) << operation << " left the device open";
        fake.Heal(operation);
    }
    // The designed message is the first line; a second one says more (see the pseudo-terminal tests).
    auto firstLine = [](const std::string& text) { return text.substr(0, text.find('\n')); };
    fake.FailWith("CreateFile", Sys::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(firstLine(OpenError()), "Invalid port number (COM3)");
    fake.FailWith("CreateFile", 13);
    EXPECT_EQ(firstLine(OpenError()), "Can't open device COM3");
    EXPECT_FALSE(com.IsOpen());
}

#ifndef _WIN32
// The system refuses the watcher thread (here: no process left for the user): the open fails with an
// error and closes the device, and no thread is counted that the program would wait for at exit.
TEST_F(VaCommFake, AWatcherThatCannotBeCreatedFailsTheOpen) {
    OrdinaryUser user;
    if (!user.Unavailable().empty()) GTEST_SKIP() << user.Unavailable();
    const int running = TThread::RunningFreeThreads();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NPROC, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NPROC, &none), 0);
    std::string error;
    const bool ran = user.Run([&] { error = OpenError(); });
    ::setrlimit(RLIMIT_NPROC, &saved);
    if (!ran) GTEST_SKIP() << user.Unavailable();
    EXPECT_EQ(error, "Can't open device COM3");
    EXPECT_FALSE(com.IsOpen());
    EXPECT_FALSE(fake.isOpen);
    EXPECT_EQ(TThread::RunningFreeThreads(), running);
    // Once threads can be had again, the port opens.
    com.Open();
    EXPECT_TRUE(com.IsOpen());
}
#endif

// A watcher whose body ends by an exception reports it and stays until the port is closed, so the
// component never reaches a thread that has deleted itself.
TEST_F(VaCommFake, AWatcherEndedByAnExceptionIsReportedAndClosedSafely) {
    std::vector<std::string> errors;
    Application::SetExceptionHandler([&](const std::exception& e) { errors.push_back(e.what()); });
    fake.waitThrows = true;
    com.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.empty(); }, 5000));
    EXPECT_EQ(errors, std::vector<std::string>{"the wait broke"});
    EXPECT_FALSE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 0; }, 200));
    com.Close();
    EXPECT_FALSE(fake.isOpen);
    EXPECT_TRUE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 0; }, 5000));
}

TEST_F(VaCommFake, FailingOnOpenHandlerClosesTheDeviceAndStopsTheWatcher) {
    com.OnOpen = [](TObject*) { throw EVaCommError("refused"); };
    EXPECT_EQ(OpenError(), "refused");
    EXPECT_FALSE(com.IsOpen());
    EXPECT_FALSE(fake.isOpen);
    EXPECT_TRUE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 0; }, 5000));
}

TEST_F(VaCommFake, OpenCloseEventsAndTheRefusedSetters) {
    int opened = 0, closed = 0;
    com.OnOpen = [&](TObject* s) { opened += s == &com; };
    com.OnClose = [&](TObject* s) { closed += s == &com; };
    com.Close();  // closed already: nothing
    EXPECT_EQ(closed, 0);
    com.Open();
    EXPECT_EQ(opened, 1);
    try {
        com.Open();
        ADD_FAILURE() << "second Open did not raise";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Can't perform this operation when port is open");
    }
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(opened, 1);

    com.SetPortNum(3);  // the current value is accepted while open
    EXPECT_THROW(com.SetPortNum(4), EVaCommError);
    EXPECT_THROW(com.SetMonitorEvents({ceData, ceError}), EVaCommError);
    EXPECT_THROW(com.SetReadBufSize(1), EVaCommError);
    EXPECT_THROW(com.SetWriteBufSize(1), EVaCommError);
    EXPECT_THROW(com.SetPriority(tpHighest), EVaCommError);
    EXPECT_EQ(com.PortNum(), 3);
    EXPECT_EQ(com.MonitorEvents(), TVaCommEvents{ceData});
    EXPECT_EQ(com.ReadBufSize(), 4096);
    EXPECT_EQ(com.WriteBufSize(), 2048);
    EXPECT_EQ(com.Priority(), tpNormal);

    com.Close();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(fake.purgeFlags, 0x000Fu);
    com.SetPortNum(4);
    EXPECT_EQ(com.PortNum(), 4);
}

TEST_F(VaCommFake, ReadWriteAndStatusErrorsCarryCodeAndText) {
    com.Open();
    fake.FailWith("WriteFile", 5);
    EXPECT_THROW(
        try { com.WriteChar('x'); } catch (const EVaCommError& e) {
            EXPECT_EQ(e.what(), "Write error (5), " + TextOfFive());
            throw;
        },
        EVaCommError);
    fake.FailWith("ReadFile", 5);
    fake.inQueue = 3;
    try {
        std::string text;
        com.ReadText(text);
        ADD_FAILURE() << "no error";
    } catch (const EVaCommError& e) {
        EXPECT_EQ(e.what(), "Read error (5), " + TextOfFive());
    }
    fake.FailWith("ClearCommError", 5);
    try {
        com.InQueCount();
        ADD_FAILURE() << "no error";
    } catch (const EVaCommError& e) {
        EXPECT_EQ(e.what(), "Error retrieving statistics (5), " + TextOfFive());
    }
}

TEST_F(VaCommFake, ReadTextTakesWhatIsWaitingAndMakesNoReadWhenNothingIs) {
    com.Open();
    std::string text = "old";
    com.ReadText(text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(fake.Count("ReadFile"), 0);
    fake.inQueue = 4;
    com.ReadText(text);
    EXPECT_EQ(text, "rrrr");
}

TEST_F(VaCommFake, CompletionWaitsThatRunOutReturnZeroAndCancelTheOperation) {
    com.SetReadTimeout(30);
    com.SetWriteTimeout(30);
    com.Open();
    fake.ioPending = true;
    char buffer[8];
    EXPECT_EQ(com.ReadBuf(buffer, sizeof buffer), 0);
    EXPECT_FALSE(com.WriteChar('x'));
    EXPECT_EQ(fake.cancelledIo.load(), 2);
}

TEST_F(VaCommFake, FailedPurgeInCloseStillClosesTheDevice) {
    com.Open();
    fake.FailWith("PurgeComm", 5);
    int closed = 0;
    com.OnClose = [&](TObject*) { ++closed; };
    try {
        com.Close();
        ADD_FAILURE() << "no error";
    } catch (const EVaCommError& e) {
        EXPECT_EQ(e.what(), "Error clearing buffers (5), " + TextOfFive());
    }
    EXPECT_FALSE(com.IsOpen());
    EXPECT_FALSE(fake.isOpen);
    EXPECT_EQ(closed, 0);
    fake.Heal("PurgeComm");
    com.Open();  // and the port can be opened again
    EXPECT_TRUE(com.IsOpen());
}

TEST_F(VaCommFake, DispatchOrderOfOneMask) {
    com.Open();
    std::vector<std::string> order;
    auto note = [&](const char* name) { return [&order, name](TObject*) { order.push_back(name); }; };
    com.OnError = [&](TObject*, int32_t errors) { order.push_back("Error" + std::to_string(errors)); };
    com.OnData = [&](TObject*, int32_t count) { order.push_back("Data" + std::to_string(count)); };
    com.OnRxFlag = note("RxFlag");
    com.OnRx80Full = note("Rx80Full");
    com.OnCts = note("Cts");
    com.OnDsr = note("Dsr");
    com.OnRing = note("Ring");
    com.OnRlsd = note("Rlsd");
    com.OnTxEmpty = note("TxEmpty");
    com.OnBreak = note("Break");
    com.OnEvent1 = note("Event1");
    com.OnEvent2 = note("Event2");
    fake.inQueue = 7;
    fake.lineErrors = CE_FRAME;
    com.HandleCommEvent(nullptr, 0x1DFF);
    EXPECT_EQ(order, (std::vector<std::string>{"Error8", "Data7", "RxFlag", "Rx80Full", "Cts", "Dsr", "Ring",
                                               "Rlsd", "TxEmpty", "Break", "Event1", "Event2"}));

    // A handler that raises ends the dispatch of its mask.
    order.clear();
    com.OnData = [&](TObject*, int32_t) { throw EVaCommError("stop"); };
    EXPECT_THROW(com.HandleCommEvent(nullptr, EV_RXCHAR | EV_CTS), EVaCommError);
    EXPECT_TRUE(order.empty());

    // No data event without waiting bytes, and none at all when the status read fails.
    fake.inQueue = 0;
    com.OnData = [&](TObject*, int32_t) { order.push_back("Data"); };
    com.HandleCommEvent(nullptr, EV_RXCHAR);
    EXPECT_TRUE(order.empty());
    fake.inQueue = 2;
    fake.FailWith("ClearCommError", 5);
    EXPECT_THROW(com.HandleCommEvent(nullptr, EV_RXCHAR | EV_CTS), EVaCommError);
    EXPECT_TRUE(order.empty());
}

TEST_F(VaCommFake, WatcherHandsEventsToTheGuiThreadAndReportsHandlerErrors) {
    std::vector<std::string> errors;
    Application::SetExceptionHandler([&](const std::exception& e) { errors.push_back(e.what()); });
    std::vector<int> counts;
    bool onGuiThread = true;
    com.OnData = [&](TObject* sender, int32_t count) {
        onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread() &&
                      sender == &com;
        counts.push_back(count);
        if (count == 2) throw EVaCommError("handler failed");
    };
    com.Open();
    fake.inQueue = 2;
    fake.Fire(EV_RXCHAR);
    ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() == 1; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return errors.size() == 1; }, 5000));
    EXPECT_EQ(errors, std::vector<std::string>{"handler failed"});
    // The watcher goes on after the error.
    fake.inQueue = 5;
    fake.Fire(EV_RXCHAR);
    ASSERT_TRUE(QTest::qWaitFor([&] { return counts.size() == 2; }, 5000));
    EXPECT_EQ(counts, (std::vector<int>{2, 5}));
    EXPECT_TRUE(onGuiThread);

    // A failing status read reaches the error report, no data event.
    fake.FailWith("ClearCommError", 5);
    fake.Fire(EV_RXCHAR);
    ASSERT_TRUE(QTest::qWaitFor([&] { return errors.size() == 2; }, 5000));
    EXPECT_EQ(errors[1], "Error retrieving statistics (5), " + TextOfFive());
    EXPECT_EQ(counts.size(), 2u);
}

TEST_F(VaCommFake, NothingIsHandedOverWhileTheApplicationShutsDown) {
    int events = 0;
    com.OnData = [&](TObject*, int32_t) { ++events; };
    com.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.waitCalls == 1; }, 5000));
    Application::SetTerminated(true);
    fake.inQueue = 1;
    fake.Fire(EV_RXCHAR);
    const bool waitedAgain = QTest::qWaitFor([&] { return fake.waitCalls == 2; }, 5000);
    Application::SetTerminated(false);
    ASSERT_TRUE(waitedAgain);
    EXPECT_EQ(TThread::QueuedHandOffs(), 0);
    EXPECT_EQ(events, 0);
}

// A hang-up closes the port at once on the GUI thread, with one OnDisconnect and no OnClose; the
// component can then be opened again.
TEST_F(VaCommFake, AHangUpClosesThePortAndReportsItOnce) {
    int disconnects = 0, closes = 0;
    bool onGuiThread = false;
    com.OnDisconnect = [&](TObject*) {
        ++disconnects;
        onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    };
    com.OnClose = [&](TObject*) { ++closes; };
    fake.waitFailCode = 5;
    fake.waitFailsAtOnce = true;
    com.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !com.IsOpen(); }, 5000));
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(closes, 0);
    EXPECT_FALSE(fake.isOpen);
    EXPECT_TRUE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 0; }, 5000));
    const int calls = fake.waitCalls;
    QTest::qWait(3 * TVaCommThread::kRetryPauseMs);
    EXPECT_EQ(fake.waitCalls, calls);  // the watcher is gone: nothing waits on the closed device
    fake.waitFailsAtOnce = false;
    com.Open();
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(disconnects, 1);
}

TEST_F(VaCommFake, WaitsThatFailAtOnceAreRetriedAtAPacedRate) {
    fake.waitFailsAtOnce = true;
    com.Open();
    const int firstCalls = fake.waitCalls;
    QTest::qWait(500);
    const int calls = fake.waitCalls - firstCalls;
    EXPECT_LE(calls, 500 / TVaCommThread::kRetryPauseMs + 2);
    EXPECT_GE(calls, 1);
    com.Close();
    EXPECT_TRUE(QTest::qWaitFor([] { return TThread::RunningFreeThreads() == 0; }, 5000));
}

}  // namespace
