#include "unitfinder.h"

#include "ccomport.h"
#include "commandset.h"
#include "exchangeresult.h"

namespace {

// Board request at each speed in turn, until a speed where a reply comes: fills speed and
// board map on a readable one, the garbled speed otherwise.
void scanSpeeds(cComPort &port, FoundUnit &unit, const QList<int> &speeds,
                const std::function<void(int, int)> &beforeTry)
{
    for (const int speed : speeds) {
        beforeTry(speed, unit.address);
        port.setBaudRate(speed);
        const Heard heard = probeBoards(port, unit.address, unit.boardMap);
        if (heard.result == Ok) {
            unit.answered = true;
            unit.speed = speed;
            return;
        }
        if (heard.garbled > 0) {
            unit.garbledSpeed = speed;
            unit.everyReplyGarbled = heard.everyReplyGarbled();
            return;
        }
    }
}

// One step of the search after the board request; false with the step named on failure.
bool searchStep(cComPort &port, FoundUnit &unit, QByteArray &request, const char *step)
{
    unit.result = exchangeAskingAgain(port, request).result;
    if (unit.result != Ok)
        unit.failedStep = step;
    return unit.result == Ok;
}

} // namespace

Heard probeBoards(cComPort &port, int address, int &boardMap)
{
    QByteArray reply = command::readBoards(address);
    const Heard heard = exchangeAskingAgain(port, reply);
    if (heard.result == Ok)
        boardMap = command::boardMap(reply);
    return heard;
}

FoundUnit findUnit(cComPort &port, int address, const QList<int> &speeds,
                   const std::function<void(int, int)> &beforeTry)
{
    FoundUnit unit;
    unit.address = address;
    scanSpeeds(port, unit, speeds, beforeTry);
    if (!unit.answered)
        return unit;
    if (unit.address == 0) {
        QByteArray reply = command::readAddress();
        if (!searchStep(port, unit, reply, "address"))
            return unit;
        unit.address = command::unitAddress(reply);
    }
    QByteArray reply = command::readVersion(unit.address);
    if (!searchStep(port, unit, reply, "version"))
        return unit;
    unit.versionMajor = command::versionMajor(reply);
    unit.versionMinor = command::versionMinor(reply);
    return unit;
}
