#pragma once

#include <QtGlobal>
#include <netinet/in.h>
#include <thread>

// What the kit's small servers on 127.0.0.1 share: a listening socket on a free port, and the
// pipe whose write tells their serving thread to stop.
namespace loopbackListener {

// The address 127.0.0.1:`port`.
sockaddr_in address(quint16 port);
// Listens on a free port of 127.0.0.1 (`port` set) and makes the stop pipe; false when it
// cannot.
bool open(int &listener, int (&stopPipe)[2], quint16 &port);
// Tells `thread` to stop through the pipe, waits for it, and closes the socket and the pipe.
void close(std::thread &thread, int listener, int (&stopPipe)[2]);

} // namespace loopbackListener
