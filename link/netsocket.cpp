// What the network line's sockets share on every platform.
#include "netsocket.h"

namespace netsocket {

Handle connectTo(const QString &host, quint16 port, Clock::time_point deadline, Outcome &outcome)
{
    addrinfo *found = resolve(host, port, outcome);
    if (!found)
        return none;
    Handle connected = none;
    for (const addrinfo *a = found; a && connected == none; a = nextAddress(a)) {
        connected = connectOne(*a, deadline, outcome);
        if (millisecondsLeft(deadline) == 0)
            break;
    }
    release(found);
    if (connected != none)
        outcome = Outcome{};
    return connected;
}

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

} // namespace netsocket
