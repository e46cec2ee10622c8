#pragma once

#include "hostilereply.h"
#include "scriptedpeer.h"

// A hostile unit for the scripted peer, on the simulator's rule of a hostile line
// (HostileLine): for each request it picks at random one way to answer badly (or, now and
// then, well): noise of random length, replies with a wrong digit, an odd length, a NUL
// inside, garbage in front, a start without an end, silence, a hang-up, or one of the
// simulator's own spoilt replies. Every answer is cut into chunks with pauses by the same
// rule. Not thread-safe: one generator per thread (the peer calls it on its own thread).
class HostileAnswer
{
public:
    explicit HostileAnswer(quint32 seed, int hangUpPermille = 0)
        : line(seed), hangUpPermille(hangUpPermille)
    {
    }

    ScriptedPeer::Answer next();

private:
    QByteArray body();
    QByteArray goodReply();
    int pick(int low, int high) { return line.pick(low, high); }

    HostileLine line;
    int hangUpPermille;
};
