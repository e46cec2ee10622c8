#include "boardstatus.h"

#include "commandcodes.h"

namespace unit {

BoardStatus boardStatus(int statusByte)
{
    if (statusByte & StatusAlarm)
        return BoardStatus::Alarm;
    if (statusByte & StatusFault)
        return BoardStatus::Fault;
    return BoardStatus::Normal;
}

QString boardStatusName(BoardStatus status)
{
    switch (status) {
    case BoardStatus::Alarm:
        return QStringLiteral("alarm");
    case BoardStatus::Fault:
        return QStringLiteral("fault");
    case BoardStatus::Normal:
        break;
    }
    return QStringLiteral("normal");
}

} // namespace unit
