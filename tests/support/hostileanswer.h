#pragma once

#include "scriptedpeer.h"

#include <random>

// A hostile unit for the scripted peer: for each request it picks at random one way to
// answer badly (or, now and then, well): random bytes of random length, replies with a
// wrong digit, an odd length, a NUL inside, garbage in front, a start without an end,
// silence, a hang-up. Every answer is cut into random chunks with random pauses.
// Not thread-safe: one generator per thread (the peer calls it on its own thread).
class HostileAnswer
{
public:
    explicit HostileAnswer(quint32 seed, int hangUpPermille = 0)
        : rng(seed), hangUpPermille(hangUpPermille)
    {
    }

    ScriptedPeer::Answer next();

private:
    QByteArray body();
    QByteArray randomBytes(int length);
    QByteArray goodReply();
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

    std::mt19937 rng;
    int hangUpPermille;
};
