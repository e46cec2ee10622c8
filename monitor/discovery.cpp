#include "discovery.h"

#include "commandcodes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace monitor {

namespace {

const char unitModel[] = "ВЕРТАЛ-КП";

// What one discovery message is about: its component, object id, name and reading.
struct Entity
{
    QString component; // binary_sensor or sensor
    QString object;    // hall_1_input1_alarm
    QString name;
    QString deviceClass;   // binary sensors only
    QString valueTemplate; // reads the unit's state message
};

// Home Assistant takes [a-zA-Z0-9_-] in a node id.
QString nodeId(const QString &bridgeId)
{
    QString node = bridgeId;
    for (QChar &c : node)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_') &&
            c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return node.isEmpty() ? QStringLiteral("vertal") : node;
}

QString boardRef(int position)
{
    return QStringLiteral("value_json.boards[%1]").arg(position - 1);
}

QString onWhen(const QString &condition)
{
    return QStringLiteral("{{ 'ON' if %1 else 'OFF' }}").arg(condition);
}

QJsonObject availability(const QString &topic)
{
    return QJsonObject{
        {"topic", topic}, {"payload_available", "online"}, {"payload_not_available", "offline"}};
}

QJsonObject device(const QString &node, const QString &bridgeId, const UnitSnapshot &unit)
{
    return QJsonObject{
        {"identifiers",
         QJsonArray{
             QStringLiteral("%1_%2_%3").arg(node, unit.line, QString::number(unit.address))}},
        {"name", QStringLiteral("%1 %2 %3")
                     .arg(QString::fromUtf8(unitModel), unit.line, QString::number(unit.address))},
        {"model", QString::fromUtf8(unitModel)},
        {"sw_version", QStringLiteral("%1.%2").arg(unit.versionMajor).arg(unit.versionMinor)},
        {"via_device", bridgeId}};
}

QList<Entity> inputEntities(const QString &prefix, int position, bool values)
{
    const QString board = prefix + QLatin1String("_input") + QString::number(position);
    const QString status = boardRef(position) + QLatin1String(".status");
    QList<Entity> entities{
        {"binary_sensor", board + "_alarm", QStringLiteral("Input %1 alarm").arg(position),
         "safety", onWhen(status + " == 'alarm'")},
        {"binary_sensor", board + "_fault", QStringLiteral("Input %1 fault").arg(position),
         "problem", onWhen(status + " == 'fault'")}};
    if (values)
        entities << Entity{"sensor", board + "_value",
                           QStringLiteral("Input %1 value").arg(position), QString(),
                           QStringLiteral("{{ %1.value }}").arg(boardRef(position))};
    return entities;
}

// The case is open when any input board reports its tamper bit.
Entity caseEntity(const QString &prefix, const QList<int> &inputs)
{
    QStringList tampers;
    for (const int position : inputs)
        tampers << boardRef(position) + QLatin1String(".tamper");
    return {"binary_sensor", prefix + "_case", QStringLiteral("Case"), "tamper",
            onWhen(tampers.join(QLatin1String(" or ")))};
}

QList<Entity> unitEntities(const UnitSnapshot &unit)
{
    const QString prefix = unit.line + QLatin1Char('_') + QString::number(unit.address);
    QList<int> inputs;
    QList<Entity> entities;
    for (size_t i = 0; i < unit.boards.size(); ++i) {
        if (unit.boards[i].kind != InputBoard)
            continue;
        inputs << int(i) + 1;
        entities << inputEntities(prefix, int(i) + 1, unit.values);
    }
    if (!inputs.isEmpty()) // the tamper bit comes with an input board's status
        entities.prepend(caseEntity(prefix, inputs));
    return entities;
}

QJsonObject entityPayload(const Entity &entity, const QString &node, const QJsonObject &common)
{
    QJsonObject payload = common;
    payload.insert("name", entity.name);
    payload.insert("unique_id", node + QLatin1Char('_') + entity.object);
    payload.insert("object_id", entity.object);
    payload.insert("value_template", entity.valueTemplate);
    if (entity.component == QLatin1String("sensor")) {
        payload.insert("state_class", "measurement");
        return payload;
    }
    payload.insert("payload_on", "ON");
    payload.insert("payload_off", "OFF");
    payload.insert("device_class", entity.deviceClass);
    return payload;
}

} // namespace

QList<DiscoveryMessage> discoveryMessages(const BrokerSettings &broker, const QString &bridgeId,
                                          const UnitSnapshot &unit)
{
    const QString node = nodeId(bridgeId);
    const QJsonObject common{
        {"state_topic", unitTopic(broker, unit.line, unit.address, QStringLiteral("state"))},
        {"availability", QJsonArray{availability(bridgeStateTopic(broker)),
                                    availability(unitTopic(broker, unit.line, unit.address,
                                                           QStringLiteral("availability")))}},
        {"availability_mode", "all"},
        {"device", device(node, bridgeId, unit)}};
    QList<DiscoveryMessage> messages;
    for (const Entity &entity : unitEntities(unit))
        messages << DiscoveryMessage{
            QStringLiteral("%1/%2/%3/%4/config")
                .arg(broker.discoveryPrefix, entity.component, node, entity.object),
            QJsonDocument(entityPayload(entity, node, common)).toJson(QJsonDocument::Compact)};
    return messages;
}

QString unitTopic(const BrokerSettings &broker, const QString &line, int address,
                  const QString &leaf)
{
    return QStringLiteral("%1/%2/%3/%4")
        .arg(broker.baseTopic, line, QString::number(address), leaf);
}

QString bridgeStateTopic(const BrokerSettings &broker)
{
    return broker.baseTopic + QLatin1String("/bridge/state");
}

} // namespace monitor
