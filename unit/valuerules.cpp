#include "valuerules.h"

#include "boardlist.h"

namespace unit {

bool onTimeInRange(int onTime)
{
    return onTime >= 0 && onTime <= maxOnTime;
}

bool periodInRange(int period)
{
    return period >= 0 && period <= maxPeriod;
}

bool onTimeAbovePeriod(int onTime, int period)
{
    return !(onTime > 0 && period >= onTime);
}

bool relayNumber(const QString &text, int &relay)
{
    bool ok = false;
    relay = text.trimmed().toInt(&ok);
    return ok && isBoardPosition(relay);
}

} // namespace unit
