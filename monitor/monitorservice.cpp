#include "monitorservice.h"

#include "discovery.h"
#include "systemdlink.h"
#include "unitcommand.h"
#include "unitevents.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QSet>
#include <syslog.h>

namespace monitor {

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString unitKey(const QString &line, int address)
{
    return line + QLatin1Char('/') + QString::number(address);
}

// A unit's boards or firmware changed: its discovery must be sent again.
bool sameDevice(const UnitSnapshot &a, const UnitSnapshot &b)
{
    return a.boardMap == b.boardMap && a.versionMajor == b.versionMajor &&
           a.versionMinor == b.versionMinor && a.values == b.values;
}

} // namespace

struct MonitorService::Private
{
    explicit Private(MonitorSink &owner) : sink(owner) {}
    MonitorSink &sink;
    MonitorConfig config;
    QString password;
    std::unique_ptr<MqttBridge> bridge;
    std::vector<std::unique_ptr<LinePoller>> pollers;

    // What has been published, under `mutex` (the pollers' threads and the broker's).
    mutable std::mutex mutex;
    QHash<QString, UnitSnapshot> published; // by unitKey
    QHash<QString, bool> availability;      // by unitKey
    QSet<QString> linesTried;

    void startBridge();
    void startLines();
    void stopLines();
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);
    void runCommand(const QString &topic, const QByteArray &payload);
    void sendDiscovery(const UnitSnapshot &unit);
    void sendAllDiscovery();
    LinePoller *poller(const QString &line) const;
};

MonitorService::MonitorService(const MonitorConfig &config, const QString &password)
    : d(std::make_unique<Private>(*this))
{
    d->config = config;
    d->password = password;
}

MonitorService::~MonitorService()
{
    stop();
}

bool MonitorService::start(QString &error)
{
    d->bridge = std::make_unique<MqttBridge>(d->config.mqtt, d->password);
    Private *p = d.get();
    d->bridge->onMessage = [p](const QString &topic, const QByteArray &payload, bool retained) {
        p->onMessage(topic, payload, retained);
    };
    d->bridge->onProblem = [](const QString &reason) {
        systemd::journalMessage(LOG_WARNING, QStringLiteral("broker: ") + reason);
    };
    d->bridge->onDropped = [p](int dropped) {
        systemd::journalMessage(
            LOG_WARNING,
            QStringLiteral("%1 events were dropped while the broker was away").arg(dropped));
        const QJsonObject told{
            {"dropped", dropped},
            {"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}};
        p->bridge->publishEvent(p->config.mqtt.baseTopic + QStringLiteral("/bridge/dropped"),
                                compact(told));
    };
    d->bridge->subscribe(d->config.mqtt.discoveryPrefix + QStringLiteral("/status"));
    if (d->config.commands)
        for (const QString &filter : commandFilters(d->config.mqtt))
            d->bridge->subscribe(filter);
    if (!d->bridge->start(error))
        return false;
    d->startLines();
    return true;
}

void MonitorService::stop()
{
    d->stopLines();
    if (d->bridge)
        d->bridge->stop();
    d->bridge.reset();
}

bool MonitorService::reload(const MonitorConfig &config, const QString &password, QString &error)
{
    d->stopLines();
    const bool brokerChanged = config.mqtt.url != d->config.mqtt.url ||
                               config.mqtt.clientId != d->config.mqtt.clientId ||
                               config.mqtt.baseTopic != d->config.mqtt.baseTopic ||
                               config.mqtt.username != d->config.mqtt.username ||
                               config.mqtt.caFile != d->config.mqtt.caFile ||
                               config.mqtt.discoveryPrefix != d->config.mqtt.discoveryPrefix ||
                               config.commands != d->config.commands || password != d->password;
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        // Units of lines no longer watched: nobody answers for them any more.
        for (auto it = d->availability.begin(); it != d->availability.end(); ++it) {
            const QString line = it.key().section(QLatin1Char('/'), 0, 0);
            const bool kept = std::any_of(config.lines.cbegin(), config.lines.cend(),
                                          [&](const LineSettings &l) { return l.name == line; });
            if (!kept && it.value() && d->bridge)
                d->bridge->publishRetained(unitTopic(d->config.mqtt, line,
                                                     it.key().section(QLatin1Char('/'), 1).toInt(),
                                                     QStringLiteral("availability")),
                                           "offline");
        }
        d->linesTried.clear();
    }
    if (brokerChanged) {
        if (d->bridge)
            d->bridge->stop();
        d->bridge.reset();
        {
            const std::lock_guard<std::mutex> lock(d->mutex);
            d->published.clear();
            d->availability.clear();
        }
        d->config = config;
        d->password = password;
        return start(error);
    }
    d->config = config;
    d->startLines();
    return true;
}

bool MonitorService::isReady() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    return d->bridge && d->bridge->attempted() &&
           d->linesTried.size() >= qsizetype(d->config.lines.size());
}

bool MonitorService::keepWatchdog(qint64 withinMs)
{
    const qint64 now = QDeadlineTimer::current().deadline();
    for (const auto &poller : d->pollers)
        if (now - poller->lastBeat() > withinMs)
            return false;
    systemd::notifyWatchdog();
    return true;
}

void MonitorService::unitRead(const UnitSnapshot &unit)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    const QString key = unitKey(unit.line, unit.address);
    const auto last = d->published.constFind(key);
    const bool known = last != d->published.cend();
    if (known && last->sameState(unit))
        return;
    if (known) {
        for (const UnitEvent &event : eventsBetween(*last, unit)) {
            d->bridge->publishEvent(
                unitTopic(d->config.mqtt, unit.line, unit.address, QStringLiteral("event")),
                compact(eventJson(event)));
            systemd::journalEvent(unit.line, unit.address, event);
        }
    }
    if (!known || !sameDevice(*last, unit))
        d->sendDiscovery(unit);
    d->bridge->publishRetained(
        unitTopic(d->config.mqtt, unit.line, unit.address, QStringLiteral("state")),
        compact(stateJson(unit)));
    d->published.insert(key, unit);
}

void MonitorService::unitAvailability(const QString &line, int address, bool online)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    const QString key = unitKey(line, address);
    const auto last = d->availability.constFind(key);
    if (last != d->availability.cend() && *last == online)
        return;
    d->availability.insert(key, online);
    d->bridge->publishRetained(
        unitTopic(d->config.mqtt, line, address, QStringLiteral("availability")),
        online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"));
    systemd::journalMessage(LOG_NOTICE, QStringLiteral("%1 unit %2 %3")
                                            .arg(line)
                                            .arg(address)
                                            .arg(online ? QStringLiteral("answers")
                                                        : QStringLiteral("does not answer")));
}

void MonitorService::lineTried(const QString &line)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    d->linesTried.insert(line);
}

void MonitorService::lineMessage(const QString &line, const QString &text)
{
    systemd::journalMessage(LOG_WARNING, line + QStringLiteral(": ") + text);
}

void MonitorService::commandDone(const QString &line, int address, const QString &topic, bool ok,
                                 const QString &error)
{
    d->bridge->publishOnce(unitTopic(d->config.mqtt, line, address, QStringLiteral("response")),
                           responsePayload(topic, ok, error));
}

void MonitorService::Private::startLines()
{
    for (const LineSettings &line : config.lines)
        pollers.push_back(std::make_unique<LinePoller>(line, config.pollMs, sink));
    for (const auto &poller : pollers)
        poller->start();
}

void MonitorService::Private::stopLines()
{
    for (const auto &poller : pollers)
        poller->stop();
    pollers.clear();
}

LinePoller *MonitorService::Private::poller(const QString &line) const
{
    for (const auto &poller : pollers)
        if (poller->settings().name == line)
            return poller.get();
    return nullptr;
}

void MonitorService::Private::onMessage(const QString &topic, const QByteArray &payload,
                                        bool retained)
{
    if (topic == config.mqtt.discoveryPrefix + QStringLiteral("/status")) {
        // Home Assistant has started again: it needs the devices anew.
        if (payload.trimmed() == "online")
            sendAllDiscovery();
        return;
    }
    // A retained command would act again at every start: only one sent now counts.
    if (config.commands && !retained)
        runCommand(topic, payload);
}

void MonitorService::Private::runCommand(const QString &topic, const QByteArray &payload)
{
    UnitCommand command;
    QString error;
    if (parseUnitCommand(config.mqtt, topic, payload, command, error)) {
        if (LinePoller *line = poller(command.line)) {
            line->submit(command);
            return;
        }
        error = QStringLiteral("no line named %1").arg(command.line);
    }
    // BASE/LINE/ADDR/...: the response goes beside the command, when the topic names a unit.
    const QStringList levels = topic.mid(config.mqtt.baseTopic.size() + 1).split(QLatin1Char('/'));
    bool isNumber = false;
    const int address = levels.value(1).toInt(&isNumber);
    if (levels.size() >= 2 && isNumber && address > 0 && address < 256)
        bridge->publishOnce(unitTopic(config.mqtt, levels[0], address, QStringLiteral("response")),
                            responsePayload(topic, false, error));
    systemd::journalMessage(LOG_WARNING,
                            QStringLiteral("command on %1 refused: %2").arg(topic, error));
}

void MonitorService::Private::sendDiscovery(const UnitSnapshot &unit)
{
    for (const DiscoveryMessage &message :
         discoveryMessages(config.mqtt, config.mqtt.clientId, unit))
        bridge->publishRetained(message.topic, message.payload);
}

void MonitorService::Private::sendAllDiscovery()
{
    const std::lock_guard<std::mutex> lock(mutex);
    for (const UnitSnapshot &unit : std::as_const(published))
        sendDiscovery(unit);
}

} // namespace monitor
