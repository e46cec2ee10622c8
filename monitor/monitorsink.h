#pragma once

#include "unitsnapshot.h"

#include <QString>

namespace monitor {

// Where a line's poller reports what it learns. Called on the poller's own thread: an
// implementation takes its own lock.
class MonitorSink
{
public:
    virtual ~MonitorSink() = default;
    // A unit was read (whole after it came online, then every poll cycle). The sink compares
    // it with the last one and publishes only what changed.
    virtual void unitRead(const UnitSnapshot &unit) = 0;
    // A unit answers again (`online`) or stopped answering / its line is gone.
    virtual void unitAvailability(const QString &line, int address, bool online) = 0;
    // The line has been tried once since start (opened and its units searched, or failed to
    // open): the service is ready once every line has.
    virtual void lineTried(const QString &line) = 0;
    // What a line said that the operator should read (a port that does not open, with its
    // reason; a unit found later by the scan). Plain English, one line.
    virtual void lineMessage(const QString &line, const QString &text) = 0;
    // A command's result, to be published as the unit's response.
    virtual void commandDone(const QString &line, int address, const QString &topic, bool ok,
                             const QString &error) = 0;
};

} // namespace monitor
