#pragma once

#include <functional>

// Runs `work`, which blocks (a connection being made), on a thread of its own while the
// calling thread, when it is the application's, processes its events (all but the user's
// input: nothing may start another operation meanwhile). Elsewhere it simply runs it.
void runBesideEvents(const std::function<void()> &work);
