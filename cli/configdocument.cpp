#include "configdocument.h"

#include "boardlist.h"
#include "commandcodes.h"
#include "linespeeds.h"
#include "valuerules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace {

const char documentName[] = "vertal-config";
constexpr int maxAddress = 255;

// What a number field of the document holds.
enum class Whole
{
    Missing,
    NotWhole, // not a number, or a fraction
    Number,   // a whole number, perhaps far beyond any field's range (and an int's)
};

Whole readWhole(const QJsonObject &object, const char *key, double &value)
{
    const QJsonValue field = object.value(QLatin1String(key));
    if (field.isUndefined())
        return Whole::Missing;
    value = field.toDouble();
    if (!field.isDouble() || !std::isfinite(value) || value != std::floor(value))
        return Whole::NotWhole;
    return Whole::Number;
}

// The number as the document has it, however large: 4294967298, 1e+300.
QString numberText(double value)
{
    return QString::number(value, 'g', 16);
}

// Compared as doubles: a value beyond an int's range is never converted.
bool within(double value, int least, int most)
{
    return value >= least && value <= most;
}

int kindByName(const QString &name)
{
    for (int kind = NoBoard; kind <= UnusedBoardKind; ++kind)
        if (unit::boardKindName(kind) == name)
            return kind;
    return -1;
}

// Relay, time and period of the input board at `position`: each one within its range is
// kept, one beyond it goes to the document's outOfRange, said with the range.
bool readAssignment(const QJsonObject &board, int position, ConfigDocument &document,
                    QString &error)
{
    struct Field
    {
        const char *key;
        int *target;
        int most;
        const char *unit;
    };
    command::AlarmRele &a = document.assignment[position];
    const Field fields[] = {{"relay", &a.relay, boardPositions, ""},
                            {"time", &a.onTime, unit::maxOnTime, " s"},
                            {"period", &a.period, unit::maxPeriod, " s"}};
    for (const Field &f : fields) {
        double value = 0;
        if (readWhole(board, f.key, value) != Whole::Number) {
            error = QStringLiteral("input board %1 needs relay, time and period (whole numbers)")
                        .arg(position);
            return false;
        }
        if (within(value, 0, f.most))
            *f.target = int(value);
        else
            document.outOfRange << QStringLiteral("board %1: %2 %3%4 beyond 0..%5%4")
                                       .arg(position)
                                       .arg(QLatin1String(f.key), numberText(value),
                                            QLatin1String(f.unit))
                                       .arg(f.most);
    }
    return true;
}

bool readBoard(const QJsonObject &board, ConfigDocument &document, QString &error)
{
    double number = 0;
    const Whole position = readWhole(board, "position", number);
    const int kind = kindByName(board.value("kind").toString());
    if (position != Whole::Number || kind < 0) {
        error = QStringLiteral("each board needs a position 1..4 and a kind (none, input, relay, "
                               "unused)");
        return false;
    }
    if (!within(number, 1, boardPositions)) {
        error = QStringLiteral("board position %1 beyond 1..%2")
                    .arg(numberText(number))
                    .arg(boardPositions);
        return false;
    }
    const int p = int(number);
    if (document.kinds[p] != -1) {
        error = QStringLiteral("position %1 is given twice").arg(p);
        return false;
    }
    document.kinds[p] = kind;
    return kind != InputBoard || readAssignment(board, p, document, error);
}

// Address and speed say where the document came from: a number there that no unit could
// have is told all the same (a document that holds one is not what it seems).
void readOrigin(const QJsonObject &root, ConfigDocument &document)
{
    double value = 0;
    const Whole address = readWhole(root, "address", value);
    if (address == Whole::Number && within(value, 0, maxAddress))
        document.address = int(value);
    else if (root.value("address").isDouble())
        document.outOfRange << QStringLiteral("address %1 is no unit address (0..%2)")
                                   .arg(numberText(value))
                                   .arg(maxAddress);
    const Whole speed = readWhole(root, "speed", value);
    if (speed == Whole::Number &&
        (value == 0 || (within(value, 0, unitLineSpeeds.back()) && isUnitLineSpeed(int(value)))))
        document.speed = int(value);
    else if (root.value("speed").isDouble())
        document.outOfRange << QStringLiteral("speed %1 is no line speed (4800, 9600, 19200, "
                                              "38400, 57600 or 115200; 0 unknown)")
                                   .arg(numberText(value));
}

} // namespace

QJsonObject ConfigDocument::toJson() const
{
    QJsonArray boards;
    for (int p = 1; p <= boardPositions; ++p) {
        QJsonObject board{{"position", p}, {"kind", unit::boardKindName(kinds[p])}};
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
    double format = 0;
    if (root.value("document").toString() != QLatin1String(documentName) ||
        readWhole(root, "format", format) != Whole::Number) {
        error = QStringLiteral("not a unit configuration (no \"document\": \"%1\" with a format)")
                    .arg(QLatin1String(documentName));
        return false;
    }
    if (format != ConfigDocument::format) {
        error = QStringLiteral("format %1 is not known (this program reads format %2)")
                    .arg(numberText(format))
                    .arg(ConfigDocument::format);
        return false;
    }
    document = ConfigDocument{};
    readOrigin(root, document);
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
    QStringList misfits = document.outOfRange;
    const unit::BoardLists held = unit::boardLists(boardMap);
    for (int p = 1; p <= boardPositions; ++p) {
        if (document.kinds[p] != held.kinds[p]) {
            misfits << QStringLiteral("position %1: the document has %2, the unit %3")
                           .arg(p)
                           .arg(unit::boardKindName(document.kinds[p]),
                                unit::boardKindName(held.kinds[p]));
            continue;
        }
        if (document.kinds[p] != InputBoard)
            continue;
        const command::AlarmRele &a = document.assignment[p];
        if (a.relay != 0 && !unit::isRelayBoard(boardMap, a.relay))
            misfits << QStringLiteral("board %1: relay %2 is no relay board of the unit")
                           .arg(p)
                           .arg(a.relay);
        if (!unit::onTimeAbovePeriod(a.onTime, a.period))
            misfits << QStringLiteral("board %1: the time (%2 s) must be greater than the period "
                                      "(%3 s)")
                           .arg(p)
                           .arg(a.onTime)
                           .arg(a.period);
    }
    return misfits;
}
