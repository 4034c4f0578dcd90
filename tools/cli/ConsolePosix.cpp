// The terminal on Linux: SIGINT through a pipe that the event loop watches.
#include <signal.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>

#include "tools/cli/Console.h"

namespace Console {
namespace {

int interruptWrite = -1;

void OnInterrupt(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptWrite, &byte, 1);
}

}  // namespace

struct InterruptWatch::State {
    int pipeEnds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier;
};

InterruptWatch::InterruptWatch(std::function<void()> interrupted) : state_(std::make_unique<State>()) {
    if (::pipe(state_->pipeEnds) != 0) return;
    interruptWrite = state_->pipeEnds[1];
    state_->notifier = std::make_unique<QSocketNotifier>(state_->pipeEnds[0], QSocketNotifier::Read);
    State* state = state_.get();
    QObject::connect(state->notifier.get(), &QSocketNotifier::activated, [state, interrupted] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(state->pipeEnds[0], &byte, 1);
        interrupted();
    });
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

InterruptWatch::~InterruptWatch() {
    if (state_->notifier) ::signal(SIGINT, SIG_DFL);
}

bool InterruptWatch::Ready() const {
    return state_->notifier != nullptr;
}

void UseBinaryOutput() {}

}  // namespace Console
