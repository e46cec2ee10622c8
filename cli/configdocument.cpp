#include "configdocument.h"

#include "boardlist.h"
#include "commandcodes.h"
#include "describe.h"
#include "valuerules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace {

const char documentName[] = "vertal-config";
// Far beyond any field's range (the range checks tell), and within an int's.
constexpr double maxCount = 1e9;

int kindByName(const QString &name)
{
    for (int kind = NoBoard; kind <= UnusedBoardKind; ++kind)
        if (boardKindName(kind) == name)
            return kind;
    return -1;
}

// A whole number field of `object`, 0 or more; false when missing or not one.
bool readCount(const QJsonObject &object, const char *key, int &value)
{
    const QJsonValue field = object.value(QLatin1String(key));
    const double number = field.toDouble(-1);
    // Bounded before the conversion: a double beyond int's range does not convert.
    if (!field.isDouble() || number < 0 || number > maxCount || number != std::floor(number))
        return false;
    value = int(number);
    return true;
}

bool readBoard(const QJsonObject &board, ConfigDocument &document, QString &error)
{
    int position = 0;
    const int kind = kindByName(board.value("kind").toString());
    if (!readCount(board, "position", position) || !unit::isBoardPosition(position) || kind < 0) {
        error = QStringLiteral("each board needs a position 1..4 and a kind (none, input, relay, "
                               "unused)");
        return false;
    }
    if (document.kinds[position] != -1) {
        error = QStringLiteral("position %1 is given twice").arg(position);
        return false;
    }
    document.kinds[position] = kind;
    if (kind != InputBoard)
        return true;
    command::AlarmRele &a = document.assignment[position];
    if (!readCount(board, "relay", a.relay) || !readCount(board, "time", a.onTime) ||
        !readCount(board, "period", a.period)) {
        error = QStringLiteral("input board %1 needs relay, time and period (whole numbers, 0 or "
                               "more)")
                    .arg(position);
        return false;
    }
    return true;
}

} // namespace

QJsonObject ConfigDocument::toJson() const
{
    QJsonArray boards;
    for (int p = 1; p <= boardPositions; ++p) {
        QJsonObject board{{"position", p}, {"kind", boardKindName(kinds[p])}};
        if (kinds[p] == InputBoard) {
            board.insert("relay", assignment[p].relay);
            board.insert("time", assignment[p].onTime);
            board.insert("period", assignment[p].period);
        }
        boards.append(board);
    }
    return QJsonObject{{"document", QLatin1String(documentName)},
                       {"format", format},
                       {"address", address},
                       {"speed", speed},
                       {"firmware", firmware},
                       {"boards", boards}};
}

int ConfigDocument::boardMap() const
{
    int map = 0;
    for (int p = 1; p <= boardPositions; ++p)
        map |= (kinds[p] & 3) << (2 * (p - 1));
    return map;
}

bool readConfigDocument(const QByteArray &bytes, ConfigDocument &document, QString &error)
{
    QJsonParseError parse{};
    const QJsonObject root = QJsonDocument::fromJson(bytes, &parse).object();
    if (parse.error != QJsonParseError::NoError) {
        error = QStringLiteral("not a JSON document: %1").arg(parse.errorString());
        return false;
    }
    int format = 0;
    if (root.value("document").toString() != QLatin1String(documentName) ||
        !readCount(root, "format", format)) {
        error = QStringLiteral("not a unit configuration (no \"document\": \"%1\" with a format)")
                    .arg(QLatin1String(documentName));
        return false;
    }
    if (format != ConfigDocument::format) {
        error = QStringLiteral("format %1 is not known (this program reads format %2)")
                    .arg(format)
                    .arg(ConfigDocument::format);
        return false;
    }
    document = ConfigDocument{};
    readCount(root, "address", document.address);
    readCount(root, "speed", document.speed);
    document.firmware = root.value("firmware").toString();
    const QJsonArray boards = root.value("boards").toArray();
    std::fill(std::begin(document.kinds), std::end(document.kinds), -1);
    for (const QJsonValue &board : boards)
        if (!readBoard(board.toObject(), document, error))
            return false;
    for (int p = 1; p <= boardPositions; ++p) {
        if (document.kinds[p] == -1) {
            error = QStringLiteral("position %1 is missing from \"boards\"").arg(p);
            return false;
        }
    }
    return true;
}

QStringList configMisfits(const ConfigDocument &document, int boardMap)
{
    QStringList misfits;
    const unit::BoardLists held = unit::boardLists(boardMap);
    for (int p = 1; p <= boardPositions; ++p) {
        if (document.kinds[p] != held.kinds[p]) {
            misfits << QStringLiteral("position %1: the document has %2, the unit %3")
                           .arg(p)
                           .arg(boardKindName(document.kinds[p]), boardKindName(held.kinds[p]));
            continue;
        }
        if (document.kinds[p] != InputBoard)
            continue;
        const command::AlarmRele &a = document.assignment[p];
        if (a.relay != 0 && !unit::isRelayBoard(boardMap, a.relay))
            misfits << QStringLiteral("board %1: relay %2 is no relay board of the unit")
                           .arg(p)
                           .arg(a.relay);
        if (!unit::onTimeInRange(a.onTime))
            misfits << QStringLiteral("board %1: time %2 s beyond 0..%3 s")
                           .arg(p)
                           .arg(a.onTime)
                           .arg(unit::maxOnTime);
        if (!unit::periodInRange(a.period))
            misfits << QStringLiteral("board %1: period %2 s beyond 0..%3 s")
                           .arg(p)
                           .arg(a.period)
                           .arg(unit::maxPeriod);
        if (!unit::onTimeAbovePeriod(a.onTime, a.period))
            misfits << QStringLiteral("board %1: the time (%2 s) must be greater than the period "
                                      "(%3 s)")
                           .arg(p)
                           .arg(a.onTime)
                           .arg(a.period);
    }
    return misfits;
}
