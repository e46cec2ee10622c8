#include "workerlifetimes.h"

#include "ccomport.h"
#include "serialport.h"

#include <QDeadlineTimer>
#include <chrono>

namespace unit {

namespace {
using namespace std::chrono_literals;
// A stopped worker's thread ends within one 15 ms poll, or once its frame has left.
constexpr auto stoppingThreadWait = 80ms;
constexpr auto sweepInterval = 15ms;
} // namespace

WorkerLifetimes::WorkerLifetimes()
{
    QObject::connect(&sweepTimer, &QTimer::timeout, &sweepTimer, [this] { sweep(); });
}

// An exchange in flight ends within one poll and sends nothing more, so the wait for the
// threads stays short; a write stuck on a line that does not drain leaves the port to the
// sweep.
void WorkerLifetimes::retire(cComPort *owner, cComPort *sharer)
{
    if (!owner && !sharer)
        return;
    for (cComPort *worker : {owner, sharer}) {
        if (worker)
            worker->stopExchanges();
    }
    for (cComPort *worker : {sharer, owner}) {
        if (worker)
            worker->wait(QDeadlineTimer(stoppingThreadWait));
    }
    retired << Pair{owner, sharer};
    sweep();
}

// The sharer goes first: it uses the owner's port.
void WorkerLifetimes::sweep()
{
    auto running = [](const cComPort *w) { return w && w->isRunning(); };
    auto exchanging = [](const cComPort *w) { return w && w->isExchanging(); };
    for (qsizetype i = retired.size() - 1; i >= 0; --i) {
        const Pair pair = retired.at(i);
        if (running(pair.owner) || running(pair.sharer))
            continue;
        if (pair.owner && pair.owner->serialPort())
            pair.owner->serialPort()->close();
        if (exchanging(pair.owner) || exchanging(pair.sharer))
            continue;
        retired.removeAt(i);
        delete pair.sharer;
        delete pair.owner;
    }
    if (retired.isEmpty())
        sweepTimer.stop();
    else if (!sweepTimer.isActive())
        sweepTimer.start(sweepInterval);
}

bool WorkerLifetimes::retiredOwnerExchanging() const
{
    for (const Pair &pair : retired) {
        if (pair.owner && pair.owner->isExchanging())
            return true;
    }
    return false;
}

} // namespace unit
