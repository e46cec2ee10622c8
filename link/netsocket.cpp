// What the network line's sockets share on every platform.
#include "netsocket.h"

#include "nameresolution.h"

namespace netsocket {

Handle connectTo(const QString &host, quint16 port, Clock::time_point deadline,
                 const std::function<bool()> &cancelled, Outcome &outcome)
{
    addrinfo *found = resolveWithin(host, port, deadline, cancelled, outcome);
    if (!found)
        return none;
    Handle connected = none;
    for (const addrinfo *a = found; a && connected == none; a = nextAddress(a)) {
        connected = connectOne(*a, deadline, cancelled, outcome);
        if (millisecondsLeft(deadline) == 0 || outcome.failure == Failure::Cancelled)
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
