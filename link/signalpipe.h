#pragma once

// The signals that end a program (Ctrl-C, SIGTERM, a hang-up) carried from their handler
// into the event loop. The handler does only what a handler may: it marks the signal and
// writes one byte into a pipe; a notifier on the pipe's other end runs the program's own
// reaction on the thread that installed it, as an ordinary event. POSIX only: Windows
// programs make their own arrangements.
#include <functional>
#include <initializer_list>

class QSocketNotifier;

namespace signalPipe {

// What a second signal does while the program is still reacting to the first.
enum class SecondSignal
{
    Caught,      // marked and passed to the reaction again
    EndsProgram, // the default action: an operator who presses Ctrl-C twice means it
};

// Installs handlers for the signals `signos`, after the application object exists;
// `onSignal` runs in the event loop of the calling thread once per wake-up of the pipe.
// Returns the notifier that wakes that loop (owned by the application, kept until the
// program ends), so that a wait can end on it too; nullptr when the pipe could not be made
// or was installed already, and then nothing is changed.
QSocketNotifier *install(std::initializer_list<int> signos, SecondSignal second,
                         const std::function<void()> &onSignal);
// True once one of the signals has come (set by the handler itself, before the event loop
// hears of it).
bool raised();

} // namespace signalPipe
