#include "unitfinder.h"

#include "ccomport.h"
#include "commandset.h"
#include "exchangeresult.h"

namespace {

// Board request at each speed in turn; fills speed and board map on the first answer.
void scanSpeeds(cComPort &port, FoundUnit &unit, const QList<int> &speeds,
                const std::function<void(int, int)> &beforeTry)
{
    for (const int speed : speeds) {
        beforeTry(speed, unit.address);
        port.setBaudRate(speed);
        const int result = probeBoards(port, unit.address, unit.boardMap);
        if (result == Ok) {
            unit.answered = true;
            unit.speed = speed;
            return;
        }
        if (isGarbled(result))
            unit.garbledAt << speed;
    }
}

} // namespace

int probeBoards(cComPort &port, int address, int &boardMap)
{
    QByteArray reply = command::readBoards(address);
    const int result = port.exchange(reply, false);
    if (result == Ok)
        boardMap = command::boardMap(reply);
    return result;
}

bool isGarbled(int exchangeResult)
{
    return exchangeResult != Ok && exchangeResult != NoReply && exchangeResult != NoPort;
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
        unit.result = port.exchange(reply, false);
        if (unit.result != Ok) {
            unit.failedStep = "address";
            return unit;
        }
        unit.address = command::unitAddress(reply);
    }
    QByteArray reply = command::readVersion(unit.address);
    unit.result = port.exchange(reply, false);
    if (unit.result != Ok) {
        unit.failedStep = "version";
        return unit;
    }
    unit.versionMajor = command::versionMajor(reply);
    unit.versionMinor = command::versionMinor(reply);
    return unit;
}
