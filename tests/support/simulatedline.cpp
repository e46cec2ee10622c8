#include "simulatedline.h"

SimulatedLine::SimulatedLine(const QList<UnitState> &states)
{
    for (const UnitState &state : states)
        units.emplace_back(state);
    server = std::make_unique<UnitServer>(units.front());
    for (std::size_t i = 1; i < units.size(); ++i)
        server->addUnit(units[i]);
    ready = server->start(path());
}

int SimulatedLine::frames(int address, int code) const
{
    int count = 0;
    for (const ReceivedFrame &f : server->receivedFrames())
        count += f.payload.size() >= 2 && quint8(f.payload[0]) == address &&
                 quint8(f.payload[1]) == code;
    return count;
}
