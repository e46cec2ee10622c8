#pragma once

#include "netsocket.h"

#include <functional>

namespace netsocket {

// Resolves `host` on a thread of its own, so that a resolver that does not answer holds up
// neither the window nor a signal: waits until the answer, `deadline` (ResolverSilent) or
// `cancelled()` (Cancelled), looking at `cancelled` every few milliseconds, and then leaves
// the lookup to finish alone. The addresses (release() them), or null with `outcome` set.
addrinfo *resolveWithin(const QString &host, quint16 port, Clock::time_point deadline,
                        const std::function<bool()> &cancelled, Outcome &outcome);

} // namespace netsocket
