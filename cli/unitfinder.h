#pragma once

#include "askagain.h"

#include <QByteArray>
#include <QList>
#include <functional>

class cComPort;

// What the search learnt of the unit on the line.
struct FoundUnit
{
    bool answered = false; // a unit answered the board request at some speed
    int result = 0;        // ExchangeResult of the step that failed after that, 0 Ok
    QByteArray failedStep; // its name ("address", "version"), empty when none failed
    int speed = 0;
    int address = 0;
    int boardMap = 0;
    int versionMajor = 0;
    int versionMinor = 0;
    // The speed at which replies to the board request came but none could be read (0 when
    // none did). The unit is at that speed, so the search ends there. `everyReplyGarbled`:
    // each one was, which on a line with several units means that a request to address 0 is
    // answered by all of them at once and the replies collide.
    int garbledSpeed = 0;
    bool everyReplyGarbled = false;
};

// The window's search, without the window: the board request (CMD_READ_BOARDS) to
// `address` at each of `speeds` in turn, the first speed where a reply comes (readable or
// not, garbled ones asked again) ending it; then, if the address is 0, the unit's own
// address (CMD_READ_ADDRESS); then its firmware version. `beforeTry` runs with each speed
// and address before the exchange at that speed. The port keeps the speed at which the
// unit answered. Processes events while it waits.
FoundUnit findUnit(cComPort &port, int address, const QList<int> &speeds,
                   const std::function<void(int speed, int address)> &beforeTry);

// The board request (CMD_READ_BOARDS) to `address` at the port's speed, garbled replies
// asked again: what it heard, and on Ok the unit's board map in `boardMap`.
Heard probeBoards(cComPort &port, int address, int &boardMap);
