#include "unitsnapshot.h"

#include "boardlist.h"
#include "boardstatus.h"
#include "commandcodes.h"

#include <QJsonArray>

namespace monitor {

namespace {

bool sameBoard(const BoardSnapshot &a, const BoardSnapshot &b)
{
    return a.kind == b.kind && a.statusByte == b.statusByte && a.value == b.value &&
           a.relay == b.relay && a.time == b.time && a.period == b.period;
}

QJsonObject boardJson(int position, const BoardSnapshot &board, bool values)
{
    QJsonObject json{{"position", position}, {"kind", unit::boardKindName(board.kind)}};
    if (board.kind != InputBoard)
        return json;
    json.insert("status", unit::boardStatusName(unit::boardStatus(board.statusByte)));
    json.insert("tamper", bool(board.statusByte & StatusTamper));
    json.insert("status_byte", board.statusByte);
    if (values) // null until the value has been read once
        json.insert("value", board.value < 0 ? QJsonValue() : QJsonValue(board.value));
    json.insert("relay", board.relay);
    json.insert("time", board.time);
    json.insert("period", board.period);
    return json;
}

} // namespace

bool UnitSnapshot::caseOpen() const
{
    for (const BoardSnapshot &board : boards)
        if (board.kind == InputBoard && (board.statusByte & StatusTamper))
            return true;
    return false;
}

bool UnitSnapshot::sameState(const UnitSnapshot &other) const
{
    if (line != other.line || address != other.address || speed != other.speed ||
        versionMajor != other.versionMajor || versionMinor != other.versionMinor ||
        boardMap != other.boardMap || values != other.values)
        return false;
    for (size_t i = 0; i < boards.size(); ++i)
        if (!sameBoard(boards[i], other.boards[i]))
            return false;
    return true;
}

QJsonObject stateJson(const UnitSnapshot &unit)
{
    QJsonArray boards;
    for (size_t i = 0; i < unit.boards.size(); ++i)
        boards.append(boardJson(int(i) + 1, unit.boards[i], unit.values));
    return QJsonObject{
        {"line", unit.line},
        {"address", unit.address},
        {"firmware", QStringLiteral("%1.%2").arg(unit.versionMajor).arg(unit.versionMinor)},
        {"speed", unit.speed ? QJsonValue(unit.speed) : QJsonValue()}, // null: the server's
        {"boards", boards}};
}

} // namespace monitor
