#include "confirmedsearch.h"

#include "ccomport.h"
#include "exchangetiming.h"

#include <chrono>

namespace unit {

namespace {

// The board request only, at each speed of `plan` in turn, with `listening`'s attempts.
FoundUnit firstPass(cComPort &port, const SearchPlan &plan, const SearchHooks &hooks,
                    const Listening &listening)
{
    const int sends = port.sendsPerExchange();
    SearchHooks boardsOnly = hooks;
    boardsOnly.afterStep = [](FoundUnit &) { return false; };
    port.setPollsPerAttempt(listening.polls);
    if (listening.quick)
        port.setSendsPerExchange(1);
    FoundUnit heard = findUnit(port, plan, boardsOnly);
    port.setPollsPerAttempt(exchangeTiming::countedPollsPerAttempt);
    port.setSendsPerExchange(sends);
    return heard;
}

// The speeds of the window's search after a candidate at `speed` was not confirmed: the
// one before it in the plan first.
QList<int> speedsAfterMiss(const SearchPlan &plan, int speed)
{
    const qsizetype at = plan.speeds.indexOf(speed);
    if (plan.speeds.size() < 2 || at <= 0)
        return plan.speeds;
    QList<int> speeds = plan.speeds;
    speeds.move(at - 1, 0);
    return speeds;
}

bool heardSomething(const FoundUnit &unit)
{
    return unit.answered || unit.garbledSpeed != 0;
}

} // namespace

FoundUnit findConfirmedUnit(cComPort &port, const SearchPlan &plan, const SearchHooks &hooks,
                            const Listening &listening)
{
    if (listening.polls >= exchangeTiming::countedPollsPerAttempt && !listening.quick)
        return findUnit(port, plan, hooks);
    const FoundUnit heard = firstPass(port, plan, hooks, listening);
    const bool candidate = heard.outcome == SearchOutcome::Stopped || heard.garbledSpeed != 0;
    if (!candidate && heard.outcome != SearchOutcome::NotFound)
        return heard; // canceled, ended or the line gone
    SearchPlan next = plan;
    if (candidate) {
        const int speed = heard.answered ? heard.speed : heard.garbledSpeed;
        if (!plan.speeds.isEmpty())
            next.speeds = {speed};
        const FoundUnit confirmed = findUnit(port, next, hooks);
        if (heardSomething(confirmed) || plan.speeds.size() < 2)
            return confirmed;
        next.speeds = speedsAfterMiss(plan, speed);
    } else if (!listening.quick) {
        return heard;
    } else {
        cComPort::waitProcessingEvents(
            int(std::chrono::milliseconds(exchangeTiming::quietAttempt).count()));
    }
    return findUnit(port, next, hooks);
}

} // namespace unit
