#pragma once
// The terminal's side of the tool that differs between the systems: the operator's interrupt (Ctrl+C) and
// the bytes of the output.

#include <functional>
#include <memory>

namespace Console {

// While it lives, each interrupt from the terminal (SIGINT on Linux, Ctrl+C or Ctrl+Break in a Windows
// console) calls `interrupted` on the GUI thread, from the event loop, instead of ending the tool.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> interrupted);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
    // False when the system gave no means to watch (the interrupt then ends the tool as usual).
    bool Ready() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Standard output and error write their bytes as they are, the same on every system (on Windows no LF
// becomes CR LF).
void UseBinaryOutput();

}  // namespace Console
