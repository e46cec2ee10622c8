#pragma once

#include "linename.h"
#include "simunit.h"
#include "unitserver.h"

#include <QList>
#include <deque>
#include <memory>

// Units on one simulated multi-drop line, each at its own address: a real pseudo-terminal
// served by UnitServer under a name of its own (kept across unplug and replug), for
// vertal-cli and the monitor's line poller.
class SimulatedLine
{
public:
    explicit SimulatedLine(const QList<UnitState> &states);
    bool isReady() const { return ready; }
    QString path() const { return name.path(); }
    SimUnit &unit(int index = 0) { return units[std::size_t(index)]; }
    // The well-formed frames the line heard to `address` with command `code`.
    int frames(int address, int code) const;

    std::deque<SimUnit> units;
    std::unique_ptr<UnitServer> server;

private:
    LineName name;
    bool ready = false;
};
