#include "platform/serial/PortMap.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/serial/SysError.h"

namespace Serial {
namespace {

// The file a path finally leads to; empty when it leads nowhere.
std::string Resolved(const std::string& Path) {
    char buffer[PATH_MAX];
    if (Path.empty() || ::realpath(Path.c_str(), buffer) == nullptr) return {};
    return buffer;
}

// The entries of a folder, sorted, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& Folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(Folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string GroupName(gid_t Gid) {
    const group* entry = ::getgrgid(Gid);
    return entry != nullptr ? entry->gr_name : std::to_string(Gid);
}

std::string OwnerName(uid_t Uid) {
    const passwd* entry = ::getpwuid(Uid);
    return entry != nullptr ? entry->pw_name : std::to_string(Uid);
}

std::string UserName() {
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr ? entry->pw_name : "$USER";
}

// What to do about a device this user may not open. Joining the device's group helps only when that
// group may read and write it and is not root's own; otherwise the device's permissions must change.
std::string PermissionHint(const std::string& Path) {
    struct stat st {};
    if (::stat(Path.c_str(), &st) != 0)
        return Path + ": permission denied. Check the device's permissions with \"ls -l " + Path + "\".";
    const std::string group = GroupName(st.st_gid);
    if (st.st_gid != 0 && (st.st_mode & S_IRGRP) != 0 && (st.st_mode & S_IWGRP) != 0) {
        return Path + ": permission denied. Only members of the group \"" + group +
               "\" may use it. Join it with \"sudo usermod -aG " + group + " " + UserName() +
               "\", then log out and in again: the membership holds from the next login.";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    const std::string owner = OwnerName(st.st_uid);
    return Path + ": permission denied. Only " + (st.st_uid == 0 ? "root" : "\"" + owner + "\" and root") +
           " can open it (owner " + owner + ", group " + group + ", mode " + mode +
           "); no group gives access. Its permissions come from the system's udev rules: a rule that "
           "gives it a group with read and write access (as serial adapters have \"dialout\") lets the "
           "members of that group use it.";
}

}  // namespace

std::string DevicePath(const std::string& DeviceName) {
    if (!DeviceName.empty() && DeviceName[0] == '/') return DeviceName;
    if (DeviceName.size() < 4 || DeviceName.compare(0, 3, "COM") != 0) return {};
    const char* digits = DeviceName.c_str() + 3;
    if (*digits < '0' || *digits > '9') return {};
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(digits, &end, 10);
    if (*end != '\0' || errno == ERANGE || number < 1 || number > 0x7FFFFFFF) return {};
    const std::map<int, std::string> ports = PortMap();
    auto entry = ports.find(static_cast<int>(number));
    if (entry != ports.end()) return entry->second;
    return "/dev/ttyS" + std::to_string(number - 1);
}

int OwnPort(const std::string&) {
    return 0;  // devices are numbered through [Ports]
}

std::string StableName(const std::string& Device) {
    const std::string folder = StableNameFolder();
    if (Device.size() > folder.size() && Device.compare(0, folder.size(), folder) == 0 &&
        Device[folder.size()] == '/')
        return Device;
    const std::string target = Resolved(Device);
    if (target.empty()) return {};
    for (const std::string& name : FolderEntries(folder)) {
        const std::string link = folder + "/" + name;
        if (Resolved(link) == target) return link;
    }
    return {};
}

bool SameDevice(const std::string& A, const std::string& B) {
    if (A == B) return true;
    const std::string a = Resolved(A);
    return !a.empty() && a == Resolved(B);
}

bool DeviceMissing(int Port) {
    const std::string path = DevicePath(PortKey(Port));
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

namespace {

// Whether process `pid` holds the master side of the pseudo-terminal whose device is `target`
// (/dev/pts/N), as the kernel tells in the descriptor's "tty-index".
bool HoldsPtyMaster(const std::string& pid, const std::string& target) {
    static const std::string kPts = "/dev/pts/";
    if (target.compare(0, kPts.size(), kPts) != 0) return false;
    const std::string index = target.substr(kPts.size());
    const std::string fds = "/proc/" + pid + "/fd";
    for (const std::string& fd : FolderEntries(fds)) {
        char link[PATH_MAX];
        const ssize_t n = ::readlink((fds + "/" + fd).c_str(), link, sizeof link - 1);
        if (n <= 0) continue;
        const std::string linked(link, static_cast<size_t>(n));
        if (linked != "/dev/ptmx" && linked != "/dev/pts/ptmx") continue;
        std::ifstream info("/proc/" + pid + "/fdinfo/" + fd);
        for (std::string line; std::getline(info, line);) {
            if (line.compare(0, 10, "tty-index:") != 0) continue;
            const size_t digits = line.find_first_not_of(" \t", 10);
            if (digits != std::string::npos && line.substr(digits) == index) return true;
        }
    }
    return false;
}

std::vector<std::string> Holders(const std::string& Path, bool IncludeSelf, bool SkipPtyPeer) {
    std::vector<std::string> holders;
    const std::string target = Resolved(Path);
    if (target.empty()) return holders;
    const std::string self = std::to_string(::getpid());
    for (const std::string& pid : FolderEntries("/proc")) {
        if ((pid == self && !IncludeSelf) ||
            !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string fds = "/proc/" + pid + "/fd";
        for (const std::string& fd : FolderEntries(fds)) {
            char link[PATH_MAX];
            const ssize_t n = ::readlink((fds + "/" + fd).c_str(), link, sizeof link - 1);
            if (n <= 0 || std::string(link, static_cast<size_t>(n)) != target) continue;
            std::string name;
            std::ifstream comm("/proc/" + pid + "/comm");
            std::getline(comm, name);
            if (SkipPtyPeer && HoldsPtyMaster(pid, target)) break;
            holders.push_back((name.empty() ? "unknown" : name) + " (process " + pid + ")");
            break;
        }
    }
    return holders;
}

}  // namespace

std::vector<std::string> DeviceHolders(const std::string& Path, bool IncludeSelf) {
    return Holders(Path, IncludeSelf, false);
}

bool HeldElsewhere(const std::string& Path) {
    // Only terminals: other character devices (/dev/null) are shared by nature and fail later anyway.
    struct stat info {};
    if (::stat(Path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    const unsigned major = ::major(info.st_rdev);
    const bool pseudoTerminal = major >= 136 && major <= 143;
    if (!pseudoTerminal) {
        char link[PATH_MAX];
        const std::string node =
            "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(::minor(info.st_rdev));
        const ssize_t n = ::readlink((node + "/subsystem").c_str(), link, sizeof link - 1);
        const std::string subsystem = n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string();
        if (subsystem.size() < 4 || subsystem.compare(subsystem.size() - 4, 4, "/tty") != 0) return false;
    }
    return !Holders(Path, false, true).empty();
}

std::string OpenFailureHint(const std::string& DeviceName, uint32_t Code) {
    const std::string path = DevicePath(DeviceName);
    if (path.empty()) return {};
    const bool mapped = DeviceName.compare(0, 3, "COM") == 0 && IsMapped(std::atoi(DeviceName.c_str() + 3));
    switch (Code) {
        case Sys::ERROR_FILE_NOT_FOUND:
            if (mapped) return path + ": not connected. Plug the adapter in.";
            return path + ": no such device. Choose your adapter in Options > Comm.";
        case EACCES:
        case EPERM:
            return PermissionHint(path);
        case EBUSY: {
            std::string who;
            for (const std::string& holder : DeviceHolders(path))
                who += (who.empty() ? " (" : ", ") + holder;
            if (!who.empty()) who += ")";
            if (who.empty() && !DeviceHolders(path, true).empty())
                return path + ": already open in this program.";
            return path + ": in use by another program" + who + ". Close it, then choose the port again.";
        }
        case ENOTTY:
            return path + ": not a serial device.";
        default:
            if (Code >= Sys::ERROR_OPERATION_ABORTED) return {};
            return path + ": " + std::strerror(static_cast<int>(Code)) + ".";
    }
}

}  // namespace Serial
