// The Windows serial layer with the system's own calls. Without a serial device, its started
// operations run on a named pipe, which takes the same overlapped reads, writes and cancellations;
// the error texts, the port names and the registry's list of ports are the system's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/serial/PortEnum.h"
#include "platform/serial/PortMap.h"
#include "platform/serial/SerialWin32.h"
#include "platform/serial/SyncObjects.h"
#include "platform/serial/SysError.h"

namespace {

// Our names that the system's headers turn into macros, taken before those headers come in.
constexpr uint32_t kSignalled = Sync::WAIT_OBJECT_0;
constexpr uint32_t kTimedOut = Sync::WAIT_TIMEOUT;
constexpr uint32_t kOutCts = Serial::fOutxCtsFlow;
constexpr uint32_t kDtrEnable = Serial::DTR_CONTROL_ENABLE;
constexpr uint32_t kRtsHandshake = Serial::RTS_CONTROL_HANDSHAKE;
constexpr uint32_t kAbort = Serial::fAbortOnError;
constexpr Serial::HANDLE kNoDevice = Serial::INVALID_HANDLE_VALUE;

}  // namespace

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef CreateEvent
#undef CreateFile
#undef FormatMessage

namespace {

using Serial::TWin32Serial;

// The server end of a pipe whose client end the layer opens as its device.
class PipePeer {
public:
    PipePeer() {
        name_ = "\\\\.\\pipe\\zbeacon-serial-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(next_++);
        const std::wstring wide(name_.begin(), name_.end());
        server_ = ::CreateNamedPipeW(wide.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
    }
    ~PipePeer() {
        if (server_ != INVALID_HANDLE_VALUE) ::CloseHandle(server_);
    }
    const std::string& Name() const { return name_; }
    bool Valid() const { return server_ != INVALID_HANDLE_VALUE; }
    void Send(const std::string& Text) {
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(server_, Text.data(), static_cast<DWORD>(Text.size()), &written, nullptr));
    }
    std::string Receive(size_t Count) {
        std::string text(Count, '\0');
        DWORD read = 0;
        if (!::ReadFile(server_, text.data(), static_cast<DWORD>(Count), &read, nullptr)) return "(failed)";
        text.resize(read);
        return text;
    }

private:
    static inline int next_ = 0;
    std::string name_;
    ::HANDLE server_ = INVALID_HANDLE_VALUE;
};

class SerialWin32Pipe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Valid());
        device = api.CreateFile(peer.Name());
        ASSERT_NE(device, kNoDevice) << ::GetLastError();
        event = Sync::CreateEvent(true, false);
        ASSERT_NE(event, nullptr);
    }
    void TearDown() override {
        Sync::CloseHandle(event);
        if (device != kNoDevice) api.CloseHandle(device);
    }
    // Starts a read of Count bytes into buffer_; true when it is pending.
    bool StartRead(uint32_t Count, Serial::OVERLAPPED& Record) {
        Record = Serial::OVERLAPPED{};
        Record.hEvent = event;
        uint32_t read = 0;
        if (api.ReadFile(device, buffer_, Count, &read, &Record)) return false;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        return true;
    }

    PipePeer peer;
    TWin32Serial api;
    Serial::HANDLE device = kNoDevice;
    Sync::HANDLE event = nullptr;
    char buffer_[64] = {};
};

TEST_F(SerialWin32Pipe, WritesAndReadsCompleteThroughTheEventWithTheirCounts) {
    Serial::OVERLAPPED record{};
    record.hEvent = event;
    uint32_t written = 0;
    const char text[] = "VVV CQ";
    if (!api.WriteFile(device, text, 6, &written, &record)) {
        ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    ASSERT_EQ(Sync::WaitForSingleObject(event, 5000), kSignalled);
    ASSERT_TRUE(api.GetOverlappedResult(device, &record, &written, false));
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(peer.Receive(6), "VVV CQ");

    // A read started before the data arrives completes when it does, with what arrived.
    ASSERT_TRUE(StartRead(sizeof buffer_, record));
    EXPECT_FALSE(api.GetOverlappedResult(device, &record, nullptr, false));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    std::thread sender([this] { peer.Send("OK\r"); });
    EXPECT_EQ(Sync::WaitForSingleObject(event, 5000), kSignalled);
    sender.join();
    uint32_t read = 0;
    ASSERT_TRUE(api.GetOverlappedResult(device, &record, &read, false));
    EXPECT_EQ(std::string(buffer_, read), "OK\r");
}

// A wait that gives up (time-out, or its event set by another thread) cancels the read before it
// returns: the record says so, and the bytes that arrive later go to the next read, not into the
// abandoned buffer.
TEST_F(SerialWin32Pipe, AbandonedReadsAreCancelledBeforeTheWaitReturns) {
    Serial::OVERLAPPED record{};
    ASSERT_TRUE(StartRead(8, record));
    EXPECT_EQ(Sync::WaitForSingleObject(event, 30), kTimedOut);
    EXPECT_FALSE(event->HasOperation());
    EXPECT_FALSE(api.GetOverlappedResult(device, &record, nullptr, false));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    ASSERT_TRUE(StartRead(8, record));
    std::thread stopper([this] { Sync::SetEvent(event); });
    EXPECT_EQ(Sync::WaitForSingleObject(event, 5000), kSignalled);
    stopper.join();
    EXPECT_FALSE(api.GetOverlappedResult(device, &record, nullptr, false));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    std::memset(buffer_, 0, sizeof buffer_);
    peer.Send("73");
    EXPECT_EQ(std::string(buffer_), "");
    ASSERT_TRUE(StartRead(8, record) || record.Internal == 0);
    ASSERT_EQ(Sync::WaitForSingleObject(event, 5000), kSignalled);
    uint32_t read = 0;
    ASSERT_TRUE(api.GetOverlappedResult(device, &record, &read, false));
    EXPECT_EQ(std::string(buffer_, read), "73");
}

TEST_F(SerialWin32Pipe, LineCallsOnWhatIsNoSerialDeviceFailWithTheSystemsCode) {
    Serial::DCB dcb;
    EXPECT_FALSE(api.GetCommState(device, dcb));
    const uint32_t code = Sys::GetLastError();
    EXPECT_NE(code, 0u);
    EXPECT_FALSE(Sys::FormatMessage(code).empty());
    EXPECT_FALSE(api.SetCommMask(device, EV_RXCHAR));
}

TEST(SerialWin32, LineSettingsHaveTheSystemsLayout) {
    ::DCB system{};
    system.fOutxCtsFlow = 1;
    system.fDtrControl = DTR_CONTROL_ENABLE;
    system.fRtsControl = RTS_CONTROL_HANDSHAKE;
    system.fAbortOnError = 1;
    system.XonLim = 1024;
    system.EvtChar = '\n';
    Serial::DCB ours;
    std::memcpy(static_cast<void*>(&ours), &system, sizeof system);
    EXPECT_EQ(ours.Flags, kOutCts | kDtrEnable | kRtsHandshake | kAbort);
    EXPECT_EQ(ours.XonLim, 1024);
    EXPECT_EQ(ours.EvtChar, '\n');
}

TEST(SerialWin32, PortsAreTheirOwnDevicesAndMissingOnesSayWhat) {
    EXPECT_EQ(Serial::DevicePath("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(Serial::DevicePath("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(Serial::DevicePath("COM0"), "");
    EXPECT_EQ(Serial::DevicePath("COMx"), "");
    EXPECT_EQ(Serial::DevicePath("\\\\.\\pipe\\x"), "\\\\.\\pipe\\x");
    EXPECT_TRUE(Serial::SameDevice("COM3", "\\\\.\\com3"));
    EXPECT_FALSE(Serial::SameDevice("COM3", "COM13"));
    EXPECT_EQ(Serial::OwnPort("COM7"), 7);
    EXPECT_EQ(Serial::OwnPort("\\\\.\\com12"), 12);
    EXPECT_EQ(Serial::OwnPort("COM"), 0);
    EXPECT_EQ(Serial::OwnPort("\\\\.\\pipe\\x"), 0);
    Serial::SetPortMap({{7, "COM9"}});
    EXPECT_EQ(Serial::DevicePath("COM7"), "\\\\.\\COM9");
    Serial::SetPortMap({});

    TWin32Serial api;
    EXPECT_EQ(api.CreateFile("COM0"), kNoDevice);
    EXPECT_EQ(Sys::GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(api.CreateFile("COM231"), kNoDevice);
    const uint32_t code = Sys::GetLastError();
    EXPECT_TRUE(code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) << code;
    EXPECT_TRUE(Serial::DeviceMissing(231));
    EXPECT_EQ(Serial::OpenFailureHint("COM231", code),
              "COM231: no such port. Plug the adapter in, or choose your adapter in Options > Comm.");
    EXPECT_EQ(Serial::OpenFailureHint("COM4", ERROR_ACCESS_DENIED),
              "COM4: in use by another program, or already open in this one. Close it, then choose the port "
              "again.");
    EXPECT_EQ(Serial::OpenFailureHint("COM4", ERROR_SHARING_VIOLATION), Serial::OpenFailureHint("COM4", 5));
    EXPECT_EQ(Serial::OpenFailureHint("COM0", ERROR_FILE_NOT_FOUND), "");
}

TEST(SerialWin32, ErrorTextsAndTheCodesOfAnAdapterThatWentAway) {
    const std::string text = Sys::FormatMessage(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    Sys::SetLastError(ERROR_DEVICE_REMOVED);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_DEVICE_REMOVED));
    for (uint32_t gone : {5u, 22u, 31u, 55u, 1167u, 1617u})
        EXPECT_TRUE(Sys::IsDeviceGone(gone)) << gone;
    for (uint32_t other : {0u, 2u, 87u, 995u, 996u, 997u, 1460u})
        EXPECT_FALSE(Sys::IsDeviceGone(other)) << other;
}

// The registry's list of serial devices: one value per device, the port name as its data; values of
// other ports and other types are left out.
TEST(SerialWin32, PortsListedInTheRegistryAndTheWholeList) {
    const std::wstring path =
        L"Software\\ZindleBeaconSetupTest\\SerialComm" + std::to_wstring(::GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    auto setText = [&](const wchar_t* Name, const std::wstring& Data) {
        ::RegSetValueExW(key, Name, 0, REG_SZ, reinterpret_cast<const BYTE*>(Data.c_str()),
                         static_cast<DWORD>((Data.size() + 1) * sizeof(wchar_t)));
    };
    setText(L"\\Device\\Serial1", L"COM7");
    setText(L"\\Device\\Parallel0", L"LPT1");
    const DWORD number = 3;
    ::RegSetValueExW(key, L"\\Device\\Odd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                     sizeof number);
    ::RegCloseKey(key);

    const std::string listed(path.begin(), path.end());
    const auto ports = Serial::PortsListedUnder("HKCU\\" + listed);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].Name, "COM7");
    EXPECT_EQ(ports[0].Description, "\\Device\\Serial1");
    EXPECT_TRUE(Serial::PortsListedUnder("HKCU\\Software\\ZindleBeaconSetupTest\\Nothing").empty());

    // The whole list (whatever this machine has): COM names, each once, by number.
    const auto all = Serial::EnumeratePorts();
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].Name.compare(0, 3, "COM"), 0) << all[i].Name;
        if (i > 0) {
            EXPECT_LT(std::stoi(all[i - 1].Name.substr(3)), std::stoi(all[i].Name.substr(3)));
        }
    }
}

}  // namespace
