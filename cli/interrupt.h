#pragma once

// Ctrl-C (SIGINT), SIGTERM and a hang-up (SIGHUP: the terminal or the ssh session gone)
// end a stream of readings cleanly: the signal only marks the request (through a pipe the
// event loop watches); the reading in flight finishes, and the waits between readings end
// at once.
#include <functional>

namespace interrupt {

// Installs the handlers, after the application object exists; until then (and in the
// commands that never install them) Ctrl-C ends the program at once, as usual.
void install();
// True once a signal has come.
bool requested();
// Waits `ms` milliseconds processing events; false when a signal came before or during it.
bool wait(int ms);
// Runs `action` in the event loop when a signal comes (at once if one came already): for
// cutting short the exchange in flight. Kept until the program ends.
void whenRequested(const std::function<void()> &action);

} // namespace interrupt
