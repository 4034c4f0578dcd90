#include "platform/Serial.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/SerialTermios.h"

namespace Serial {
namespace {

std::atomic<TSerialApi*> current{nullptr};

TSerialApi& DefaultApi() {
    static TTermiosSerial api;
    return api;
}

std::mutex portMapMutex;
std::map<int, std::string>& Ports() {
    static std::map<int, std::string> ports;
    return ports;
}

}  // namespace

TSerialApi& SerialApi() {
    TSerialApi* api = current.load(std::memory_order_acquire);
    return api != nullptr ? *api : DefaultApi();
}

void SetSerialApi(TSerialApi* Api) {
    current.store(Api, std::memory_order_release);
}

void SetPortMap(std::map<int, std::string> Map) {
    std::lock_guard lock(portMapMutex);
    Ports() = std::move(Map);
}

std::map<int, std::string> PortMap() {
    std::lock_guard lock(portMapMutex);
    return Ports();
}

std::string DevicePath(const std::string& DeviceName) {
    if (!DeviceName.empty() && DeviceName[0] == '/') return DeviceName;
    if (DeviceName.size() < 4 || DeviceName.compare(0, 3, "COM") != 0) return {};
    const char* digits = DeviceName.c_str() + 3;
    if (*digits < '0' || *digits > '9') return {};
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(digits, &end, 10);
    if (*end != '\0' || errno == ERANGE || number < 1 || number > 0x7FFFFFFF) return {};
    {
        std::lock_guard lock(portMapMutex);
        auto entry = Ports().find(static_cast<int>(number));
        if (entry != Ports().end()) return entry->second;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

void CompleteAtOnce(OVERLAPPED* Overlapped, uint32_t Code, uint32_t Transferred) {
    if (Overlapped == nullptr) return;
    Overlapped->Internal = Code;
    Overlapped->InternalHigh = Transferred;
    if (Overlapped->hEvent != nullptr) Overlapped->hEvent->Set();
}

}  // namespace Serial
