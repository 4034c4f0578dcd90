#pragma once
// Port numbers and the devices behind them: the [Ports] section of the settings file, stable
// device names, and what to tell the operator when a device cannot be opened.
//
// A serial adapter gets a new kernel name (/dev/ttyUSB0, then /dev/ttyUSB1) when it is plugged in
// again, but keeps its stable name under /dev/serial/by-id/. A device chosen by the operator is
// therefore stored under its stable name where one exists, and numbered from 5 upwards (1 to 4 are
// the fixed COM 1 to COM 4 of the menu).
//
// Plain C++ and POSIX, so that every program that opens our ports can share it.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Serial {

// The device paths of named ports: read from the settings file's [Ports] section at start-up, and
// extended when the operator chooses a device.
void SetPortMap(std::map<int, std::string> Map);
std::map<int, std::string> PortMap();

// The device path of a device name: "COM" + n through the port map (or /dev/ttyS(n-1)); a name
// that begins with '/' is a path already. Empty when the name stands for no device (COM0,
// negative or malformed numbers).
std::string DevicePath(const std::string& DeviceName);

// The first number given to a device that has none yet.
constexpr int kFirstDevicePort = 5;

// The port map from the key lines of the [Ports] section ("COM5" = "/dev/ttyUSB0"). Keys are
// matched without regard to case and spaces; entries with a number below 1 or an empty device,
// and repeats of a number, are skipped.
std::map<int, std::string> ParsePortEntries(const std::vector<std::pair<std::string, std::string>>& Entries);

// The key of a port in the [Ports] section: "COM" + n.
std::string PortKey(int Port);

// The folder of stable names (/dev/serial/by-id unless set; tests put a folder of their own).
void SetStableNameFolder(std::string Folder);
std::string StableNameFolder();

// The stable name of a device: the link in the stable-name folder that leads to the same device,
// or empty when there is none.
std::string StableName(const std::string& Device);

// Whether two paths name one device: equal, or both lead to the same existing file.
bool SameDevice(const std::string& A, const std::string& B);

// The number that Map already gives Device (directly or through a link), else the lowest number
// from kFirstDevicePort upwards that Map does not use.
int PortForDevice(const std::map<int, std::string>& Map, const std::string& Device);

// The number that a device name is by itself, without [Ports]: n for COMn or \\.\COMn on Windows,
// where the port number is the device; 0 on Linux, and for any other name.
int OwnPort(const std::string& Device);

// The name under which a device is stored: its stable name, or the path itself.
std::string StoredDeviceName(const std::string& Device);

// Whether the device of a port is missing: the port names a device path (through the port map
// or as /dev/ttyS(n-1)) and nothing is there.
bool DeviceMissing(int Port);

// Whether the port map names a device for Port.
bool IsMapped(int Port);

// The line that tells an operator why a device could not be opened and what to do, from the
// error code of the failed open (Sys codes). Empty when the name stands for no device.
std::string OpenFailureHint(const std::string& DeviceName, uint32_t Code);

// The processes that hold Path open, as "name (process 1234)", found the way fuser finds them,
// through /proc; this one only when IncludeSelf. Only processes this user may inspect are seen.
std::vector<std::string> DeviceHolders(const std::string& Path, bool IncludeSelf = false);

// Whether a process other than this one holds Path open, so that opening it would share the line (root
// is not held off by the exclusive flag). The process that holds the other end of a pseudo-terminal is
// the line's peer, not another user of it, and does not count.
bool HeldElsewhere(const std::string& Path);

}  // namespace Serial
