#include "unitsearch.h"

#include "serialport.h"

#include "boardlist.h"
#include "ccomport.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "linespeeds.h"
#include "serialport.h"

namespace unit {

namespace {

// The caller's connection ended while the last exchange waited.
bool endedMeanwhile(const SearchHooks &hooks, FoundUnit &unit)
{
    if (!hooks.ended || !hooks.ended())
        return false;
    unit.outcome = SearchOutcome::Ended;
    return true;
}

// `unit.step` went through: the caller's say whether the search goes on.
bool goesOn(const SearchHooks &hooks, FoundUnit &unit, SearchStep step)
{
    unit.step = step;
    if (!hooks.afterStep || hooks.afterStep(unit))
        return true;
    unit.outcome = SearchOutcome::Stopped;
    return false;
}

// One step after the board request; false when it failed (named in `unit`) or the
// connection ended meanwhile.
bool searchStep(const SearchHooks &hooks, FoundUnit &unit, QByteArray &request, SearchStep step)
{
    unit.step = step;
    unit.result = hooks.exchange(request).result;
    if (endedMeanwhile(hooks, unit))
        return false;
    if (unit.result == Ok)
        return true;
    unit.failedStep = stepName(step);
    unit.outcome = SearchOutcome::StepFailed;
    return false;
}

// The board request at the line's speed as it is: no answer is a failed step.
bool probeHere(const SearchHooks &hooks, FoundUnit &unit)
{
    QByteArray reply = command::readBoards(unit.address);
    if (!searchStep(hooks, unit, reply, SearchStep::Boards))
        return false;
    unit.answered = true;
    unit.boardMap = command::boardMap(reply);
    return true;
}

// The board request at each speed in turn, until a speed where a reply comes: fills speed
// and board map on a readable one; the garbled speed (ending the scan when the plan says
// so) otherwise.
bool scanSpeeds(cComPort &port, const SearchPlan &plan, const SearchHooks &hooks, FoundUnit &unit)
{
    for (qsizetype i = 0; i < plan.speeds.size(); ++i) {
        const int speed = plan.speeds.at(i);
        if (hooks.beforeTry && !hooks.beforeTry(int(i), speed, unit.address)) {
            unit.outcome = SearchOutcome::Canceled;
            return false;
        }
        if (!port.setBaudRate(speed) && port.serialPort()->error() == SerialPort::SpeedNotSet) {
            // A server that keeps its line at a speed of its own: no unit can be heard at
            // this one, and the speed the server keeps is tried in its turn.
            unit.serverSpeed = port.serialPort()->baudRate();
            unit.speedsNotSet.append(speed);
            if (endedMeanwhile(hooks, unit))
                return false;
            continue;
        }
        const Heard heard = probeBoards(hooks.exchange, unit.address, unit.boardMap);
        if (endedMeanwhile(hooks, unit))
            return false;
        if (heard.result == Ok) {
            unit.answered = true;
            unit.speed = speed;
            return true;
        }
        if (heard.garbled > 0 && plan.endAtGarbled) {
            unit.garbledSpeed = speed;
            unit.everyReplyGarbled = heard.everyReplyGarbled();
            return false;
        }
        if (hooks.lineGone && hooks.lineGone()) {
            unit.outcome = SearchOutcome::LineGone;
            return false;
        }
    }
    return false;
}

// Address, version and assignment, each when asked.
void finishSearch(const SearchPlan &plan, const SearchHooks &hooks, FoundUnit &unit)
{
    QByteArray reply;
    if (plan.askAddress) {
        reply = command::readAddress();
        if (!searchStep(hooks, unit, reply, SearchStep::Address))
            return;
        unit.address = command::unitAddress(reply);
        if (!goesOn(hooks, unit, SearchStep::Address))
            return;
    }
    reply = command::readVersion(unit.address);
    if (!searchStep(hooks, unit, reply, SearchStep::Version))
        return;
    unit.versionMajor = command::versionMajor(reply);
    unit.versionMinor = command::versionMinor(reply);
    unit.assignmentBoard = plan.readAssignment ? firstInputBoard(unit.boardMap) : 0;
    if (!goesOn(hooks, unit, SearchStep::Version))
        return;
    if (unit.assignmentBoard != 0) {
        unit.assignment = command::readAlarmRele(unit.address, unit.assignmentBoard);
        if (!searchStep(hooks, unit, unit.assignment, SearchStep::Assignment) ||
            !goesOn(hooks, unit, SearchStep::Assignment))
            return;
    }
    unit.outcome = SearchOutcome::Found;
}

} // namespace

const char *stepName(SearchStep step)
{
    switch (step) {
    case SearchStep::Boards:
        return "boards";
    case SearchStep::Address:
        return "address";
    case SearchStep::Version:
        return "version";
    case SearchStep::Assignment:
        break;
    }
    return "assignment";
}

QList<int> searchOrder(int first)
{
    QList<int> order;
    if (isUnitLineSpeed(first))
        order << first;
    for (const int speed : unitLineSpeeds) {
        if (speed != first)
            order << speed;
    }
    return order;
}

Heard probeBoards(const Exchange &exchange, int address, int &boardMap, int *replyAddress)
{
    QByteArray reply = command::readBoards(address);
    const Heard heard = exchange(reply);
    if (heard.result == Ok)
        boardMap = command::boardMap(reply);
    if (heard.result == Ok && replyAddress)
        *replyAddress = command::replyByte(reply, 0);
    return heard;
}

FoundUnit findUnit(cComPort &port, const SearchPlan &plan, const SearchHooks &hooks)
{
    FoundUnit unit;
    unit.address = plan.address;
    const bool answered =
        plan.speeds.isEmpty() ? probeHere(hooks, unit) : scanSpeeds(port, plan, hooks, unit);
    if (!answered || !goesOn(hooks, unit, SearchStep::Boards))
        return unit;
    finishSearch(plan, hooks, unit);
    return unit;
}

} // namespace unit
