#pragma once

#include "unitsnapshot.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace monitor {

// One change of an input board's status ("normal", "fault", "alarm", by the window's rule),
// or of the case (position 0, "case_open" / "case_closed").
struct UnitEvent
{
    QDateTime time; // UTC
    int position = 0;
    QString from;
    QString to;
};

// The changes from `before` to `after` (the same unit), in position order, the case first;
// stamped with after.readAt. A board that changed kind between them is no event.
QList<UnitEvent> eventsBetween(const UnitSnapshot &before, const UnitSnapshot &after);

// {"time":"2026-12-09T15:40:55.123Z","position":1,"from":"normal","to":"alarm"}
QJsonObject eventJson(const UnitEvent &event);

} // namespace monitor
