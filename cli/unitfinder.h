#pragma once

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
    // Speeds at which a reply came but could not be read: on a line with several units a
    // request to address 0 is answered by all of them at once, and the replies collide.
    QList<int> garbledAt;
};

// The window's search, without the window: the board request (CMD_READ_BOARDS) to
// `address` at each of `speeds` in turn, the first answer fixing the line speed; then, if
// the address is 0, the unit's own address (CMD_READ_ADDRESS); then its firmware version.
// `beforeTry` runs with each speed and address before the exchange at that speed. The
// port keeps the speed at which the unit answered. Processes events while it waits.
FoundUnit findUnit(cComPort &port, int address, const QList<int> &speeds,
                   const std::function<void(int speed, int address)> &beforeTry);

// The board request (CMD_READ_BOARDS) to `address` at the port's speed: the ExchangeResult,
// and on Ok the unit's board map in `boardMap`.
int probeBoards(cComPort &port, int address, int &boardMap);

// True for an ExchangeResult that means bytes came but made no reply frame.
bool isGarbled(int exchangeResult);
