#include "nameresolution.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace netsocket {

namespace {

using namespace std::chrono_literals;

// The lookup's answer, shared by the waiting side and the lookup's thread, which may
// outlive the wait.
struct Lookup
{
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    bool abandoned = false; // nobody waits any more: the thread releases what it found
    addrinfo *found = nullptr;
    Outcome outcome;
};

void lookUp(const std::shared_ptr<Lookup> &lookup, const QString &host, quint16 port)
{
    Outcome outcome;
    addrinfo *found = resolve(host, port, outcome);
    std::lock_guard<std::mutex> hold(lookup->lock);
    if (lookup->abandoned) {
        if (found)
            release(found);
        return;
    }
    lookup->found = found;
    lookup->outcome = outcome;
    lookup->done = true;
    lookup->answered.notify_all();
}

} // namespace

addrinfo *resolveWithin(const QString &host, quint16 port, Clock::time_point deadline,
                        const std::function<bool()> &cancelled, Outcome &outcome)
{
    auto lookup = std::make_shared<Lookup>();
    std::thread(lookUp, lookup, host, port).detach();
    std::unique_lock<std::mutex> hold(lookup->lock);
    for (;;) {
        if (lookup->done) {
            outcome = lookup->outcome;
            return lookup->found;
        }
        if (cancelled()) {
            outcome = Outcome{Failure::Cancelled, QStringLiteral("the attempt was ended")};
            break;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            outcome =
                Outcome{Failure::ResolverSilent,
                        QStringLiteral("the resolver did not answer for %1 in time").arg(host)};
            break;
        }
        lookup->answered.wait_until(hold, std::min(deadline, now + cancelCheck));
    }
    lookup->abandoned = true;
    return nullptr;
}

} // namespace netsocket
