#include "platform/serial/Serial.h"

#include <atomic>

#ifdef _WIN32
#include "platform/serial/SerialWin32.h"
#else
#include "platform/serial/SerialTermios.h"
#endif

namespace Serial {
namespace {

std::atomic<TSerialApi*> current{nullptr};

TSerialApi& DefaultApi() {
#ifdef _WIN32
    static TWin32Serial api;
#else
    static TTermiosSerial api;
#endif
    return api;
}

}  // namespace

TSerialApi& SerialApi() {
    TSerialApi* api = current.load(std::memory_order_acquire);
    return api != nullptr ? *api : DefaultApi();
}

void SetSerialApi(TSerialApi* Api) {
    current.store(Api, std::memory_order_release);
}

void CompleteAtOnce(OVERLAPPED* Overlapped, uint32_t Code, uint32_t Transferred) {
    if (Overlapped == nullptr) return;
    Overlapped->Internal = Code;
    Overlapped->InternalHigh = Transferred;
    if (Overlapped->hEvent != nullptr) Overlapped->hEvent->Set();
}

}  // namespace Serial
