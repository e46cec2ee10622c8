#pragma once

#include <functional>

// Runs `work`, which blocks (a connection being made, a server's answer awaited), on a thread
// of its own while the calling thread, when it is the application's, processes its events:
// a signal, or the "Стоп" of the window's progress dialog, is heard meanwhile and can end the
// work (NetworkLine::abortAttempts()). The window shows that modal dialog over every such
// wait, so no other operation can start under it. Elsewhere it simply runs it.
void runBesideEvents(const std::function<void()> &work);
