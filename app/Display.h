#pragma once
// Whether the window has a display to be shown on, decided before the toolkit starts.

#include <functional>
#include <string>

// True on Linux when the program would find no display: neither DISPLAY nor WAYLAND_DISPLAY is set and
// no Qt platform was chosen (`-platform NAME` on the command line, or QT_QPA_PLATFORM), as in an SSH
// session without a forwarded display. `environment` gives a variable's value, empty when it is unset.
bool NoDisplay(int argc, const char* const* argv, const std::function<std::string(const char*)>& environment);

// The same with this process's environment.
bool NoDisplay(int argc, const char* const* argv);
