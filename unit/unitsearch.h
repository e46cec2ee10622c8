#pragma once

#include "askagain.h"

#include <QByteArray>
#include <QList>
#include <functional>

class cComPort;

namespace unit {

// The steps of the search, in their order.
enum class SearchStep
{
    Boards,     // the board request (CMD_READ_BOARDS), at each speed in turn
    Address,    // the unit's own address (CMD_READ_ADDRESS), when asked
    Version,    // the firmware version (CMD_READ_VERSION)
    Assignment, // the first input board's alarm relay (CMD_READ_ALARM_RELE), when asked
};
// "boards", "address", "version", "assignment".
const char *stepName(SearchStep step);

// How a search ended.
enum class SearchOutcome
{
    Found,      // every step asked for went through
    NotFound,   // no speed brought a readable reply to the board request
    LineGone,   // the device went away under the scan
    StepFailed, // a step after the board request (or the board request at the line's
                // speed) failed: `result` says how, `failedStep` which
    Canceled,   // beforeTry() said no more
    Stopped,    // the caller's afterStep() said no more
    Ended,      // the caller's connection ended while an exchange was waiting
};

// What the search learnt of the unit on the line.
struct FoundUnit
{
    SearchOutcome outcome = SearchOutcome::NotFound;
    bool answered = false;                // a unit answered the board request at some speed
    int result = 0;                       // ExchangeResult of the step that failed after that, 0 Ok
    QByteArray failedStep;                // its name ("address", "version"), empty when none failed
    SearchStep step = SearchStep::Boards; // the step last gone through (or failed)
    int speed = 0;
    int address = 0;
    int boardMap = 0;
    int versionMajor = 0;
    int versionMinor = 0;
    // The input board whose alarm relay the Assignment step reads (0: none, the step is
    // left out); its reply as the unit sent it.
    int assignmentBoard = 0;
    QByteArray assignment;
    // The speed at which replies to the board request came but none could be read (0 when
    // none did). The unit is at that speed, so the search ends there. `everyReplyGarbled`:
    // each one was, which on a line with several units means that a request to address 0 is
    // answered by all of them at once and the replies collide.
    int garbledSpeed = 0;
    bool everyReplyGarbled = false;
    // The speeds a serial server would not set, keeping its line at `serverSpeed` instead
    // (none: the line took every speed tried).
    QList<int> speedsNotSet;
    int serverSpeed = 0;
};

// What to ask.
struct SearchPlan
{
    int address = 0;             // where the board request goes
    bool askAddress = false;     // then ask the unit for its own address (always to address 0)
    QList<int> speeds;           // tried in turn; empty: once, at the line's speed as it is
    bool endAtGarbled = false;   // a speed where only garbled replies came ends the scan
    bool readAssignment = false; // the first input board's alarm relay after the version
};

// What the front end does around the exchanges. Every exchange processes events, so the
// caller's window or program may have moved on meanwhile: these let it say so.
struct SearchHooks
{
    Exchange exchange; // one request (required)
    // Before each speed is set and tried; false cancels the search.
    std::function<bool(int index, int speed, int address)> beforeTry;
    // After each exchange: true when the caller's connection has ended (nothing more may
    // be asked or shown).
    std::function<bool()> ended;
    // After a speed that brought no reply: true when the device has gone away.
    std::function<bool()> lineGone;
    // After each step that went through (`unit.step` says which); false stops the search.
    // After Version it may set `unit.assignmentBoard` to another input board, or 0.
    std::function<bool(FoundUnit &unit)> afterStep;
};

// The speeds of the unit in the order a search tries them: `first` (when it is one of
// them) and then the others in their usual order.
QList<int> searchOrder(int first);

// The search as one sequence over `port`: the board request to `plan.address` at each
// speed (the port keeps the speed at which the unit answered), the address when asked, the
// version and, when asked and the unit has an input board, the first one's alarm relay.
FoundUnit findUnit(cComPort &port, const SearchPlan &plan, const SearchHooks &hooks);

// The board request to `address` at the line's speed: what it heard, and on Ok the unit's
// board map in `boardMap` and, when asked for, the address the reply names (byte 0: a
// late reply to another address's request names that address).
Heard probeBoards(const Exchange &exchange, int address, int &boardMap,
                  int *replyAddress = nullptr);

} // namespace unit
