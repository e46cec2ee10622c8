#pragma once

// Ctrl-C (SIGINT), SIGTERM and a hang-up (SIGHUP: the terminal or the ssh session gone).
//
// Every command that opens a port installs the handlers first. The handler itself ends every
// connection attempt to a server in progress (resolving the name, connecting, setting up the
// line): a resolver or a server that keeps silent must not hold a signal off for seconds.
// Then, until the command takes the signals over (a --watch stream, a scan), the signal ends
// the program at once, by that same signal, as it would without the handlers: a shell sees
// 128 + its number (130 for Ctrl-C). A command that has taken them over is only told
// (requested(), through a pipe the event loop watches): the reading in flight finishes, and
// the waits between readings end at once.
#include <functional>

namespace interrupt {

// Installs the handlers, after the application object exists and before the port is opened;
// harmless when installed already. The `ports` command never installs them.
void install();
// From now on a signal ends nothing by itself: the command looks at requested() and ends
// its stream cleanly (exit 0).
void takeOver();
// True once a signal has come.
bool requested();
// Ends the program by the signal that came (when none came: 128 + SIGINT's number). For a
// step that saw its connection attempt ended by the signal before the event loop heard of it.
[[noreturn]] void endBySignal();
// Waits `ms` milliseconds processing events; false when a signal came before or during it.
bool wait(int ms);
// Runs `action` in the event loop when a signal comes (at once if one came already): for
// cutting short the exchange in flight. Kept until the program ends.
void whenRequested(const std::function<void()> &action);

} // namespace interrupt
