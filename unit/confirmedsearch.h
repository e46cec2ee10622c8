#pragma once

#include "exchangetiming.h"
#include "unitsearch.h"

class cComPort;

namespace unit {

// A search that listens shorter than the window's 21 polls per attempt first.
struct Listening
{
    int polls = exchangeTiming::countedPollsPerAttempt; // per attempt of the first pass
    // The first pass sends one copy at each speed, and when nothing answers it the
    // window's whole search follows.
    bool quick = false;
};

// findUnit with a first pass of shorter attempts. A short attempt ends before a slow unit's
// reply comes, and that reply then lands in the next speed's attempt: a unit heard in the
// first pass is therefore confirmed at its speed with the window's own timing (which also
// reads its address, version and assignment as `plan` asks) before it counts. A candidate
// that fails its confirmation, and with `quick` a pass that heard nothing, bring the
// window's search, starting at the speed before the candidate (whose late reply it most
// likely was); the line is first given one whole attempt for late replies, which the next
// exchange discards. The port ends with the window's polls and its own sends per exchange.
FoundUnit findConfirmedUnit(cComPort &port, const SearchPlan &plan, const SearchHooks &hooks,
                            const Listening &listening);

} // namespace unit
