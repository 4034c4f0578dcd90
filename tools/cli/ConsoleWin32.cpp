// The console on Windows: the system calls the control handler on a thread of its own, which sets an event
// that the event loop watches; standard output and error in binary mode.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <QObject>
#include <QWinEventNotifier>
#include <cstdio>

#include "tools/cli/Console.h"

namespace Console {
namespace {

HANDLE interruptEvent = nullptr;

BOOL WINAPI OnInterrupt(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    SetEvent(interruptEvent);
    return TRUE;
}

}  // namespace

struct InterruptWatch::State {
    std::unique_ptr<QWinEventNotifier> notifier;
};

InterruptWatch::InterruptWatch(std::function<void()> interrupted) : state_(std::make_unique<State>()) {
    interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (interruptEvent == nullptr) return;
    state_->notifier = std::make_unique<QWinEventNotifier>(interruptEvent);
    QObject::connect(state_->notifier.get(), &QWinEventNotifier::activated, [interrupted] {
        ResetEvent(interruptEvent);
        interrupted();
    });
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

InterruptWatch::~InterruptWatch() {
    if (!state_->notifier) return;
    SetConsoleCtrlHandler(OnInterrupt, FALSE);
    state_->notifier.reset();
    CloseHandle(interruptEvent);
    interruptEvent = nullptr;
}

bool InterruptWatch::Ready() const {
    return state_->notifier != nullptr;
}

void UseBinaryOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace Console
