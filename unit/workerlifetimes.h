#pragma once

#include <QList>
#include <QTimer>

class cComPort;

namespace unit {

// Lifetimes of a connection's exchange workers: an owner (opens the port, carries the
// operations) and a sharer (shares its port, carries the status poll). Every exchange
// processes events while it waits, so a connection can end while a call on one of its
// workers is still open up the stack: such a worker is retired, not deleted, and the
// shared port is closed only once neither worker's thread may use it. GUI thread only.
class WorkerLifetimes
{
public:
    WorkerLifetimes();
    ~WorkerLifetimes() = default;
    WorkerLifetimes(const WorkerLifetimes &) = delete;
    WorkerLifetimes &operator=(const WorkerLifetimes &) = delete;

    // Bumped whenever a connection ends or a search begins: an operation that finds it
    // changed after a wait ends quietly.
    int generation() const { return current; }
    int nextGeneration() { return ++current; }
    bool ended(int generation) const { return generation != current; }

    // Takes both workers of a connection out of service: their threads are told to stop
    // and given a short wait, then the pair is swept (see sweep()).
    void retire(cComPort *owner, cComPort *sharer);
    // Closes the port of every retired pair whose threads have ended, and deletes the
    // pairs that no exchange call still uses. A timer sweeps again while some remain.
    void sweep();
    // True while the owner of an ended connection is still inside an exchange call.
    bool retiredOwnerExchanging() const;
    bool anyRetired() const { return !retired.isEmpty(); }

private:
    struct Pair
    {
        cComPort *owner;
        cComPort *sharer;
    };
    int current = 0;
    QList<Pair> retired;
    QTimer sweepTimer;
};

} // namespace unit
