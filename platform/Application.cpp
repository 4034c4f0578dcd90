#include "platform/Application.h"

#include <atomic>
#include <cstdio>
#include <utility>

namespace Application {
namespace {
ExceptionHandler& Handler() {
    static ExceptionHandler handler;
    return handler;
}
std::atomic<bool> terminated{false};
}  // namespace

void SetExceptionHandler(ExceptionHandler handler) {
    Handler() = std::move(handler);
}

void HandleException(const std::exception& error) {
    if (Handler()) {
        Handler()(error);
    } else {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

bool Terminated() {
    return terminated.load(std::memory_order_acquire);
}
void SetTerminated(bool value) {
    terminated.store(value, std::memory_order_release);
}

}  // namespace Application
