#include "platform/serial/PortEnum.h"

#include <algorithm>
#include <cstdlib>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// clang-format off
#include <setupapi.h>
// clang-format on

namespace Serial {
namespace {

// The COM port device interface and the Ports setup class.
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string Utf8(const std::wstring& Text) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr,
                                            0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), utf8.data(), bytes,
                              nullptr, nullptr);
    return utf8;
}

std::wstring Wide(const std::string& Text) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), length);
    return wide;
}

// A string up to its first terminating zero (registry strings need not have one).
std::wstring Terminated(const wchar_t* Text, size_t Length) {
    std::wstring text(Text, Length);
    const size_t end = text.find(L'\0');
    return end == std::wstring::npos ? text : text.substr(0, end);
}

// The number of "COM" + n, 0 for other names (LPT1, a modem's name).
long PortNumber(const std::string& Name) {
    if (Name.size() < 4 || Name.compare(0, 3, "COM") != 0) return 0;
    char* end = nullptr;
    const long number = std::strtol(Name.c_str() + 3, &end, 10);
    return *end == '\0' && number > 0 ? number : 0;
}

std::string DeviceProperty(HDEVINFO Set, SP_DEVINFO_DATA& Device, DWORD Property) {
    wchar_t buffer[512];
    DWORD type = 0, size = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(Set, &Device, Property, &type, reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - sizeof(wchar_t), &size) ||
        type != REG_SZ)
        return {};
    return Utf8(Terminated(buffer, size / sizeof(wchar_t)));
}

std::string PortNameOf(HDEVINFO Set, SP_DEVINFO_DATA& Device) {
    const HKEY key = ::SetupDiOpenDevRegKey(Set, &Device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t buffer[64];
    DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
    const LONG result =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return {};
    return Utf8(Terminated(buffer, size / sizeof(wchar_t)));
}

void AddFromSetup(const GUID& Guid, DWORD Flags, std::vector<TPortEntry>& Ports) {
    const HDEVINFO set = ::SetupDiGetClassDevsW(&Guid, nullptr, nullptr, Flags | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        TPortEntry entry;
        entry.Name = PortNameOf(set, device);
        if (PortNumber(entry.Name) == 0) continue;
        entry.Description = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
        // A friendly name ends with the port, which the menu shows already.
        const std::string suffix = " (" + entry.Name + ")";
        if (entry.Description.size() > suffix.size() &&
            entry.Description.compare(entry.Description.size() - suffix.size(), suffix.size(), suffix) == 0)
            entry.Description.resize(entry.Description.size() - suffix.size());
        if (entry.Description.empty()) entry.Description = DeviceProperty(set, device, SPDRP_DEVICEDESC);
        entry.Manufacturer = DeviceProperty(set, device, SPDRP_MFG);
        Ports.push_back(entry);
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<TPortEntry> PortsListedUnder(const std::string& Key) {
    std::vector<TPortEntry> ports;
    HKEY root = nullptr;
    if (Key.compare(0, 5, "HKLM\\") == 0)
        root = HKEY_LOCAL_MACHINE;
    else if (Key.compare(0, 5, "HKCU\\") == 0)
        root = HKEY_CURRENT_USER;
    else
        return ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, Wide(Key.substr(5)).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256], data[64];
        DWORD nameLength = 256, type = 0, size = sizeof data - sizeof(wchar_t);
        const LONG result = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        TPortEntry entry;
        entry.Name = Utf8(Terminated(data, size / sizeof(wchar_t)));
        entry.Description = Utf8(std::wstring(name, nameLength));
        if (PortNumber(entry.Name) != 0) ports.push_back(entry);
    }
    ::RegCloseKey(key);
    return ports;
}

std::vector<TPortEntry> EnumeratePorts() {
    std::vector<TPortEntry> ports;
    AddFromSetup(kComPortInterface, DIGCF_DEVICEINTERFACE, ports);
    AddFromSetup(kPortsClass, 0, ports);
    for (const TPortEntry& entry : PortsListedUnder("HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"))
        ports.push_back(entry);
    // The first finding of a port is the richest; later ones of the same port go.
    std::stable_sort(ports.begin(), ports.end(), [](const TPortEntry& a, const TPortEntry& b) {
        return PortNumber(a.Name) < PortNumber(b.Name);
    });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const TPortEntry& a, const TPortEntry& b) { return a.Name == b.Name; }),
                ports.end());
    return ports;
}

}  // namespace Serial
