#include "unitcommand.h"

#include "valuerules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>

namespace monitor {

namespace {

constexpr int maxSwitchPayload = 64;
constexpr int maxSetPayload = 1024;
constexpr int maxAddress = 255;

// A whole number written in plain decimal within least..most ("01", "+1", "1e0" are not).
bool plainNumber(const QString &text, int least, int most, int &value)
{
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,2}$"));
    value = text.toInt();
    return digits.match(text).hasMatch() && value >= least && value <= most;
}

// LINE/ADDR/relay/N/switch or LINE/ADDR/input/N/set below the base topic.
bool readTopic(const BrokerSettings &broker, const QString &topic, UnitCommand &command,
               QString &error)
{
    const QString base = broker.baseTopic + QLatin1Char('/');
    const QStringList levels =
        topic.startsWith(base) ? topic.mid(base.size()).split(QLatin1Char('/')) : QStringList();
    static const QRegularExpression lineName(QStringLiteral("^[a-z0-9_-]+$"));
    if (levels.size() != 5 || !lineName.match(levels[0]).hasMatch()) {
        error = QStringLiteral("not a command topic: %1/LINE/ADDR/relay/N/switch or "
                               "%1/LINE/ADDR/input/N/set")
                    .arg(broker.baseTopic);
        return false;
    }
    if (levels[2] == QLatin1String("relay") && levels[4] == QLatin1String("switch")) {
        command.kind = UnitCommand::Kind::SwitchRelay;
    } else if (levels[2] == QLatin1String("input") && levels[4] == QLatin1String("set")) {
        command.kind = UnitCommand::Kind::SetInput;
    } else {
        error = QStringLiteral("not a command: relay/N/switch or input/N/set");
        return false;
    }
    command.line = levels[0];
    if (!plainNumber(levels[1], 1, maxAddress, command.address)) {
        error = QStringLiteral("the address \"%1\" is not 1..255").arg(levels[1]);
        return false;
    }
    if (!plainNumber(levels[3], 1, 4, command.position)) {
        error = QStringLiteral("the board \"%1\" is not 1..4").arg(levels[3]);
        return false;
    }
    return true;
}

// One of the three integers of a set command.
bool readField(const QJsonObject &object, const char *name, int &value, QString &error)
{
    const QJsonValue field = object.value(QLatin1String(name));
    const double number = field.toDouble();
    if (field.isUndefined()) {
        error = QStringLiteral("%1: missing").arg(QLatin1String(name));
        return false;
    }
    if (!field.isDouble() || !std::isfinite(number) || number != std::floor(number) ||
        std::fabs(number) > 1e6) {
        error = QStringLiteral("%1: must be a whole number").arg(QLatin1String(name));
        return false;
    }
    value = int(number);
    return true;
}

bool readSetPayload(const QByteArray &payload, UnitCommand &command, QString &error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        error = QStringLiteral("the payload is not a JSON object {\"relay\":R,\"time\":S,"
                               "\"period\":S}");
        return false;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() != QLatin1String("relay") && it.key() != QLatin1String("time") &&
            it.key() != QLatin1String("period")) {
            error = QStringLiteral("%1: unknown key (known: relay, time, period)").arg(it.key());
            return false;
        }
    }
    return readField(object, "relay", command.relay, error) &&
           readField(object, "time", command.time, error) &&
           readField(object, "period", command.period, error);
}

// The window's rules for an input board's alarm relay.
bool checkSetRules(const UnitCommand &command, QString &error)
{
    if (command.relay < 0 || command.relay > 4)
        error = QStringLiteral("relay: %1 is neither 0 (none) nor a board 1..4").arg(command.relay);
    else if (!unit::onTimeInRange(command.time))
        error =
            QStringLiteral("time: %1 is outside 0..%2 s").arg(command.time).arg(unit::maxOnTime);
    else if (!unit::periodInRange(command.period))
        error = QStringLiteral("period: %1 is outside 0..%2 s")
                    .arg(command.period)
                    .arg(unit::maxPeriod);
    else if (!unit::onTimeAbovePeriod(command.time, command.period))
        error = QStringLiteral("time: %1 s must be greater than the period (%2 s)")
                    .arg(command.time)
                    .arg(command.period);
    return error.isEmpty();
}

} // namespace

QStringList commandFilters(const BrokerSettings &broker)
{
    return {broker.baseTopic + QLatin1String("/+/+/relay/+/switch"),
            broker.baseTopic + QLatin1String("/+/+/input/+/set")};
}

bool parseUnitCommand(const BrokerSettings &broker, const QString &topic, const QByteArray &payload,
                      UnitCommand &command, QString &error)
{
    UnitCommand read;
    read.topic = topic;
    error.clear();
    if (!readTopic(broker, topic, read, error))
        return false;
    if (read.kind == UnitCommand::Kind::SwitchRelay) {
        if (payload.size() > maxSwitchPayload) {
            error = QStringLiteral("the payload is larger than %1 bytes").arg(maxSwitchPayload);
            return false;
        }
    } else if (payload.size() > maxSetPayload) {
        error = QStringLiteral("the payload is larger than 1 KiB");
        return false;
    } else if (!readSetPayload(payload, read, error) || !checkSetRules(read, error)) {
        return false;
    }
    command = read;
    return true;
}

QByteArray responsePayload(const QString &topic, bool ok, const QString &error)
{
    QJsonObject response{{"topic", topic}, {"ok", ok}};
    if (!ok)
        response.insert("error", error);
    return QJsonDocument(response).toJson(QJsonDocument::Compact);
}

} // namespace monitor
