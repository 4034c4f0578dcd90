#pragma once
// Application-wide services that the components need without knowing the main window:
// the standard error report for errors that leave an event handler, and the shut-down flag.

#include <exception>
#include <functional>

namespace Application {

using ExceptionHandler = std::function<void(const std::exception&)>;

// Installs the handler that shows an error to the operator (the main window installs its error box).
// Without one, errors are written to the diagnostic output.
void SetExceptionHandler(ExceptionHandler handler);

// Reports an error that ended an event handler. Call on the GUI thread only.
void HandleException(const std::exception& error);

// True once the application has begun to shut down; worker threads stop handing events over then.
bool Terminated();
void SetTerminated(bool terminated);

}  // namespace Application
