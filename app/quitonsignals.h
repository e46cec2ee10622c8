#pragma once

// Makes SIGINT (Ctrl-C), SIGTERM and SIGHUP (the terminal closed) end the program as closing
// its window does: every window is closed and the event loop left with status 0, so that
// the window's destructor hands the port back with its settings restored. A second such
// signal, while the first is still being handled, ends the program at once. Call once,
// after the application object exists. Does nothing where these signals do not exist.
void quitOnSignals();
