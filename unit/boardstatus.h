#pragma once

#include <QString>

// What an input board's status byte says, as every front end shows it. The unit may report
// an alarm and a fault at once: the alarm is what the operator must see first, so it wins.
namespace unit {

enum class BoardStatus
{
    Normal,
    Fault,
    Alarm,
};

// The status a status byte of the unit shows: alarm over fault over normal (the case bit
// plays no part).
BoardStatus boardStatus(int statusByte);
// "normal", "fault" or "alarm": the status's name in results, logs and published states.
QString boardStatusName(BoardStatus status);

} // namespace unit
