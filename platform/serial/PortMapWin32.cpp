#include "platform/serial/PortMap.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/serial/SysError.h"

// The system's headers come after ours: their macros (ERROR_FILE_NOT_FOUND) would otherwise rewrite
// our declarations.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef FormatMessage

// On Windows a port number is the device itself: COMn opens as \\.\COMn, which keeps its number
// when the adapter comes back, so there are no stable names and [Ports] needs no entry. An entry
// still names the device of its number (a device path, or another COM name).

namespace Serial {
namespace {

const std::string kDevicePrefix = "\\\\.\\";

bool IsDevicePath(const std::string& Name) {
    return Name.size() > 2 && Name[0] == '\\' && Name[1] == '\\';
}

// The number of "COM" + n; 0 for anything else.
long PortNumber(const std::string& Name) {
    if (Name.size() < 4 || Name.compare(0, 3, "COM") != 0) return 0;
    const char* digits = Name.c_str() + 3;
    if (*digits < '0' || *digits > '9') return 0;
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(digits, &end, 10);
    if (*end != '\0' || errno == ERANGE || number < 1 || number > 0x7FFFFFFF) return 0;
    return number;
}

// What the operator calls a device: COM3 rather than \\.\COM3.
std::string ShownName(const std::string& Path) {
    if (Path.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0 &&
        PortNumber(Path.substr(kDevicePrefix.size())))
        return Path.substr(kDevicePrefix.size());
    return Path;
}

std::string Normalized(const std::string& Name) {
    std::string path = Name;
    if (PortNumber(path) != 0) path = kDevicePrefix + path;
    std::transform(path.begin(), path.end(), path.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return path;
}

}  // namespace

std::string DevicePath(const std::string& DeviceName) {
    if (IsDevicePath(DeviceName)) return DeviceName;
    const long number = PortNumber(DeviceName);
    if (number == 0) return {};
    const std::map<int, std::string> ports = PortMap();
    const auto entry = ports.find(static_cast<int>(number));
    if (entry != ports.end() && !entry->second.empty() && entry->second != DeviceName)
        return IsDevicePath(entry->second) ? entry->second : kDevicePrefix + entry->second;
    return kDevicePrefix + DeviceName;
}

int OwnPort(const std::string& Device) {
    std::string name = Device;  // typed names may be in any case: com12
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return static_cast<int>(PortNumber(ShownName(name)));
}

std::string StableName(const std::string&) {
    return {};
}

bool SameDevice(const std::string& A, const std::string& B) {
    return A == B || Normalized(A) == Normalized(B);
}

bool DeviceMissing(int Port) {
    const std::string path = DevicePath(PortKey(Port));
    if (path.compare(0, kDevicePrefix.size(), kDevicePrefix) != 0) return false;
    const std::string name = path.substr(kDevicePrefix.size());
    if (name.find('\\') != std::string::npos) return false;  // not a device name of its own
    const std::wstring wide(name.begin(), name.end());
    wchar_t target[512];
    if (::QueryDosDeviceW(wide.c_str(), target, 512) != 0) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::string OpenFailureHint(const std::string& DeviceName, uint32_t Code) {
    const std::string path = DevicePath(DeviceName);
    if (path.empty() || Code == ERROR_SUCCESS) return {};
    const std::string name = ShownName(path);
    switch (Code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return name + ": no such port. Plug the adapter in, or choose your adapter in Options > Comm.";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return name +
                   ": in use by another program, or already open in this one. Close it, then choose "
                   "the port again.";
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_NAME:
            return name + ": not a serial device.";
        default: {
            const std::string text = Sys::FormatMessage(Code);
            return name + ": " + text + (text.back() == '.' ? "" : ".");
        }
    }
}

std::vector<std::string> DeviceHolders(const std::string&, bool) {
    return {};
}

bool HeldElsewhere(const std::string&) {
    return false;  // the system refuses a second open of a port by itself (ERROR_ACCESS_DENIED)
}

}  // namespace Serial
