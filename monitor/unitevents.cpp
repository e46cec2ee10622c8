#include "unitevents.h"

#include "boardstatus.h"
#include "commandcodes.h"

namespace monitor {

namespace {

QString caseName(bool open)
{
    return open ? QStringLiteral("case_open") : QStringLiteral("case_closed");
}

QString statusName(const BoardSnapshot &board)
{
    return unit::boardStatusName(unit::boardStatus(board.statusByte));
}

} // namespace

QList<UnitEvent> eventsBetween(const UnitSnapshot &before, const UnitSnapshot &after)
{
    QList<UnitEvent> events;
    const QDateTime time = after.readAt.toUTC();
    if (before.caseOpen() != after.caseOpen())
        events << UnitEvent{time, 0, caseName(before.caseOpen()), caseName(after.caseOpen())};
    for (size_t i = 0; i < after.boards.size(); ++i) {
        const BoardSnapshot &was = before.boards[i];
        const BoardSnapshot &is = after.boards[i];
        if (was.kind != InputBoard || is.kind != InputBoard)
            continue; // a board that came, went or changed kind: the state says so, no event
        if (statusName(was) != statusName(is))
            events << UnitEvent{time, int(i) + 1, statusName(was), statusName(is)};
    }
    return events;
}

QJsonObject eventJson(const UnitEvent &event)
{
    return QJsonObject{{"time", event.time.toUTC().toString(Qt::ISODateWithMs)},
                       {"position", event.position},
                       {"from", event.from},
                       {"to", event.to}};
}

} // namespace monitor
