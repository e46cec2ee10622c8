#pragma once

#include <functional>

// The monitor's signals: SIGTERM and SIGINT end it, SIGHUP has it read its configuration
// again. The handler writes the signal's number into a pipe; `react` runs in the event
// loop of the calling thread with that number. Installed once, after the application
// object exists; false when the pipe cannot be made.
namespace monitorSignals {

bool install(const std::function<void(int signo)> &react);

} // namespace monitorSignals
