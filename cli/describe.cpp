#include "describe.h"

#include "boardlist.h"
#include "boardstatus.h"
#include "commandcodes.h"
#include "commandset.h"
#include "unitsearch.h"

#include <QStringList>

QString boardsText(int boardMap)
{
    QStringList parts;
    for (int p = 1; p <= boardPositions; ++p)
        parts << QStringLiteral("%1 %2").arg(p).arg(
            unit::boardKindName(command::boardKind(boardMap, p)));
    return parts.join(QLatin1String(", "));
}

QJsonArray boardsJson(int boardMap)
{
    QJsonArray boards;
    for (int p = 1; p <= boardPositions; ++p)
        boards.append(QJsonObject{{"position", p},
                                  {"kind", unit::boardKindName(command::boardKind(boardMap, p))}});
    return boards;
}

QString statusName(int statusByte)
{
    return unit::boardStatusName(unit::boardStatus(statusByte));
}

QString statusText(int statusByte)
{
    QString text = statusName(statusByte);
    if ((statusByte & StatusAlarm) && (statusByte & StatusFault))
        text += QStringLiteral(", fault");
    if (statusByte & StatusTamper)
        text += QStringLiteral(", case open");
    return text;
}

QJsonObject statusJson(int board, int statusByte)
{
    return QJsonObject{{"board", board},
                       {"state", statusName(statusByte)},
                       {"status", statusByte},
                       {"alarm", bool(statusByte & StatusAlarm)},
                       {"fault", bool(statusByte & StatusFault)},
                       {"tamper", bool(statusByte & StatusTamper)}};
}

QJsonObject alarmReleJson(int board, int relay, int onTime, int period)
{
    return QJsonObject{{"board", board}, {"relay", relay}, {"time", onTime}, {"period", period}};
}

QString alarmReleText(int board, int relay, int onTime, int period)
{
    if (relay == 0)
        return QStringLiteral("board %1 alarm relay: none (time %2 s, period %3 s)")
            .arg(board)
            .arg(onTime)
            .arg(period);
    return QStringLiteral("board %1 alarm relay: %2 for %3 s every %4 s")
        .arg(board)
        .arg(relay)
        .arg(onTime)
        .arg(period);
}

QJsonObject unitJson(const QString &port, const unit::FoundUnit &unit)
{
    return QJsonObject{
        {"port", port},
        {"speed", unit.speed ? QJsonValue(unit.speed) : QJsonValue()}, // null: the server's
        {"address", unit.address},
        {"version", QStringLiteral("%1.%2").arg(unit.versionMajor).arg(unit.versionMinor)},
        {"boards", boardsJson(unit.boardMap)}};
}

QString unitText(const QString &port, const unit::FoundUnit &unit)
{
    return QStringLiteral("port %1\nspeed %2\naddress %3\nversion %4.%5\nboards %6")
        .arg(port)
        .arg(unit.speed ? QString::number(unit.speed)
                        : QStringLiteral("unknown (the server's line speed)"))
        .arg(unit.address)
        .arg(unit.versionMajor)
        .arg(unit.versionMinor)
        .arg(boardsText(unit.boardMap));
}
