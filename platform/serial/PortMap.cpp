#include "platform/serial/PortMap.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>

// What the port map is on every system: the numbered entries and their keys, the numbering of new
// devices. How a name becomes a device, and the hints, are in PortMapPosix.cpp and PortMapWin32.cpp.

namespace Serial {
namespace {

std::mutex mapMutex;
std::map<int, std::string>& Ports() {
    static std::map<int, std::string> ports;
    return ports;
}
std::string& Folder() {
    static std::string folder = "/dev/serial/by-id";
    return folder;
}

}  // namespace

void SetPortMap(std::map<int, std::string> Map) {
    std::lock_guard lock(mapMutex);
    Ports() = std::move(Map);
}

std::map<int, std::string> PortMap() {
    std::lock_guard lock(mapMutex);
    return Ports();
}

std::map<int, std::string> ParsePortEntries(const std::vector<std::pair<std::string, std::string>>& Entries) {
    std::map<int, std::string> ports;
    for (const auto& [key, value] : Entries) {
        std::string name;
        for (char c : key) {
            if (!std::isspace(static_cast<unsigned char>(c)))
                name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (name.size() < 4 || name.compare(0, 3, "COM") != 0 || value.empty()) continue;
        const std::string digits = name.substr(3);
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            digits.size() > 9)
            continue;
        const int n = std::stoi(digits);
        if (n >= 1 && !ports.count(n)) ports[n] = value;
    }
    return ports;
}

std::string PortKey(int Port) {
    return "COM" + std::to_string(Port);
}

void SetStableNameFolder(std::string Folder_) {
    std::lock_guard lock(mapMutex);
    Folder() = std::move(Folder_);
}

std::string StableNameFolder() {
    std::lock_guard lock(mapMutex);
    return Folder();
}

int PortForDevice(const std::map<int, std::string>& Map, const std::string& Device) {
    for (const auto& [port, entry] : Map) {
        if (SameDevice(entry, Device)) return port;
    }
    int port = kFirstDevicePort;
    while (Map.count(port))
        ++port;
    return port;
}

std::string StoredDeviceName(const std::string& Device) {
    const std::string stable = StableName(Device);
    return stable.empty() ? Device : stable;
}

bool IsMapped(int Port) {
    std::lock_guard lock(mapMutex);
    return Ports().count(Port) != 0;
}

}  // namespace Serial
