#include "mqttbridge.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mosquitto.h>
#include <mutex>
#include <vector>

namespace monitor {

namespace {

using namespace std::chrono_literals;

constexpr int keepAliveSeconds = 30;
constexpr unsigned reconnectFirstSeconds = 1;
constexpr unsigned reconnectLastSeconds = 30;
// Events handed to the library at once. The library resends what it holds after a
// reconnect by itself, so we never hand the same event twice; the window keeps what the
// library holds small.
constexpr int eventWindow = 10;
const char systemCertificates[] = "/etc/ssl/certs";

std::once_flag libraryStarted;

struct QueuedEvent
{
    QByteArray topic;
    QByteArray payload;
    int mid = 0; // 0: not handed to the library yet
};

// A QoS 1 message the library has taken: it keeps it, sends it when it can and resends it
// after a reconnect, even when it answers that the broker is away right now.
bool libraryHolds(int rc)
{
    return rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST;
}

QString caFileFault(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return QStringLiteral("mqtt.ca_file: %1 is not a readable file").arg(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("mqtt.ca_file: %1 cannot be read: %2").arg(path, file.errorString());
    return {};
}

} // namespace

struct MqttBridge::Private
{
    MqttBridge *q = nullptr;
    BrokerSettings broker;
    QByteArray password;
    QByteArray stateTopic;
    mosquitto *client = nullptr;

    mutable std::mutex mutex;
    std::condition_variable acknowledged;
    bool connected = false;
    bool attempted = false;
    // After a reconnect the library first resends the events it held; newer ones wait
    // until those are acknowledged, so that the order holds.
    bool awaitingResent = false;
    std::map<QByteArray, QByteArray> retained;
    std::vector<QByteArray> filters;
    std::deque<QueuedEvent> events; // the ones in flight first, in order
    int inFlight = 0;
    int dropped = 0;
    int lastMid = -1; // the stop's "offline"
    bool lastAcknowledged = false;
    QString lastProblem;

    bool setUp(QString &error);
    void sendEventsLocked();
    void sendKeptLocked();
    void problem(const QString &reason);
    int takeDroppedLocked();

    static void connected_(mosquitto *, void *self, int rc);
    static void disconnected_(mosquitto *, void *self, int rc);
    static void published_(mosquitto *, void *self, int mid);
    static void message_(mosquitto *, void *self, const mosquitto_message *message);
    static void logged_(mosquitto *, void *self, int level, const char *text);
};

bool MqttBridge::Private::setUp(QString &error)
{
    const QByteArray clientId = broker.clientId.toUtf8();
    client = mosquitto_new(clientId.isEmpty() ? nullptr : clientId.constData(), true, this);
    if (!client) {
        error = QStringLiteral("mqtt: the MQTT library could not make a client");
        return false;
    }
    // No mosquitto_threaded_set(): that is for threads of the caller's own, and
    // mosquitto_loop_start() refuses a client marked so; its own thread is the one we use.
    static const QByteArray offline("offline");
    int rc = mosquitto_will_set(client, stateTopic.constData(), int(offline.size()),
                                offline.constData(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !broker.username.isEmpty()) {
        const QByteArray user = broker.username.toUtf8();
        rc = mosquitto_username_pw_set(client, user.constData(),
                                       password.isEmpty() ? nullptr : password.constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && broker.tls) {
        const QByteArray caFile = QFile::encodeName(broker.caFile);
        rc = mosquitto_tls_set(client, caFile.isEmpty() ? nullptr : caFile.constData(),
                               caFile.isEmpty() ? systemCertificates : nullptr, nullptr, nullptr,
                               nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = QStringLiteral("mqtt: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    mosquitto_reconnect_delay_set(client, reconnectFirstSeconds, reconnectLastSeconds, true);
    mosquitto_connect_callback_set(client, &Private::connected_);
    mosquitto_disconnect_callback_set(client, &Private::disconnected_);
    mosquitto_publish_callback_set(client, &Private::published_);
    mosquitto_message_callback_set(client, &Private::message_);
    mosquitto_log_callback_set(client, &Private::logged_);
    return true;
}

// Hands the waiting events to the library in order, at most `eventWindow` at a time.
void MqttBridge::Private::sendEventsLocked()
{
    if (!connected || awaitingResent)
        return;
    while (inFlight < eventWindow && inFlight < int(events.size())) {
        QueuedEvent &event = events[size_t(inFlight)];
        int mid = 0;
        const int rc =
            mosquitto_publish(client, &mid, event.topic.constData(), int(event.payload.size()),
                              event.payload.constData(), 1, false);
        if (!libraryHolds(rc)) {
            // A message the library refuses outright (its size, its topic) never goes.
            events.erase(events.begin() + inFlight);
            ++dropped;
            continue;
        }
        event.mid = mid;
        ++inFlight;
        if (rc != MOSQ_ERR_SUCCESS)
            return;
    }
}

// The bridge's "online", then every kept retained message at QoS 0: the kept copy goes
// again on every reconnect, whereas a QoS 1 copy the library resent after a reconnect
// could land after, and over, a newer value. Then the subscriptions again.
void MqttBridge::Private::sendKeptLocked()
{
    static const QByteArray online("online");
    mosquitto_publish(client, nullptr, stateTopic.constData(), int(online.size()),
                      online.constData(), 1, true);
    for (const auto &[topic, payload] : retained) {
        mosquitto_publish(client, nullptr, topic.constData(), int(payload.size()),
                          payload.constData(), 0, true);
    }
    for (const QByteArray &filter : filters)
        mosquitto_subscribe(client, nullptr, filter.constData(), 1);
}

int MqttBridge::Private::takeDroppedLocked()
{
    const int count = dropped;
    dropped = 0;
    return count;
}

// Told once per change of reason; a successful connection clears it.
void MqttBridge::Private::problem(const QString &reason)
{
    {
        std::lock_guard lock(mutex);
        if (reason == lastProblem)
            return;
        lastProblem = reason;
    }
    if (q->onProblem)
        q->onProblem(reason);
}

void MqttBridge::Private::connected_(mosquitto *, void *self, int rc)
{
    auto *d = static_cast<Private *>(self);
    if (rc != 0) {
        {
            std::lock_guard lock(d->mutex);
            d->attempted = true;
        }
        d->problem(QStringLiteral("the broker %1 refused the connection: %2")
                       .arg(d->broker.url, QString::fromUtf8(mosquitto_connack_string(rc))));
        return;
    }
    int dropped = 0;
    {
        std::lock_guard lock(d->mutex);
        d->connected = true;
        d->attempted = true;
        d->lastProblem.clear();
        d->awaitingResent = d->inFlight > 0;
        d->sendKeptLocked();
        d->sendEventsLocked();
        dropped = d->takeDroppedLocked();
    }
    if (dropped > 0 && d->q->onDropped)
        d->q->onDropped(dropped);
    if (d->q->onConnected)
        d->q->onConnected();
}

void MqttBridge::Private::disconnected_(mosquitto *, void *self, int)
{
    auto *d = static_cast<Private *>(self);
    std::lock_guard lock(d->mutex);
    d->connected = false;
    d->attempted = true;
    d->acknowledged.notify_all();
}

void MqttBridge::Private::published_(mosquitto *, void *self, int mid)
{
    auto *d = static_cast<Private *>(self);
    int dropped = 0;
    {
        std::lock_guard lock(d->mutex);
        if (mid == d->lastMid) {
            d->lastAcknowledged = true;
            d->acknowledged.notify_all();
            return;
        }
        for (int i = 0; i < d->inFlight; ++i) {
            if (d->events[size_t(i)].mid != mid)
                continue;
            d->events.erase(d->events.begin() + i);
            --d->inFlight;
            if (d->inFlight == 0)
                d->awaitingResent = false;
            d->sendEventsLocked();
            break;
        }
        if (d->connected)
            dropped = d->takeDroppedLocked();
    }
    if (dropped > 0 && d->q->onDropped)
        d->q->onDropped(dropped);
}

void MqttBridge::Private::message_(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *d = static_cast<Private *>(self);
    if (!d->q->onMessage || !message->topic)
        return;
    const QByteArray payload(static_cast<const char *>(message->payload),
                             message->payload ? message->payloadlen : 0);
    d->q->onMessage(QString::fromUtf8(message->topic), payload, message->retain);
}

// A certificate that does not verify ends the connection attempt without a CONNACK; the
// library says why only in its log.
void MqttBridge::Private::logged_(mosquitto *, void *self, int level, const char *text)
{
    auto *d = static_cast<Private *>(self);
    if (level != MOSQ_LOG_ERR || !text)
        return;
    const QString line = QString::fromUtf8(text);
    if (!line.contains(QLatin1String("certificate verify failed")))
        return;
    {
        std::lock_guard lock(d->mutex);
        d->attempted = true;
    }
    d->problem(QStringLiteral("the certificate of the broker %1 does not verify against %2 (%3)")
                   .arg(d->broker.url,
                        d->broker.caFile.isEmpty() ? QString::fromLatin1(systemCertificates)
                                                   : d->broker.caFile,
                        line));
}

MqttBridge::MqttBridge(const BrokerSettings &broker, const QString &password)
    : d(std::make_unique<Private>())
{
    d->q = this;
    d->broker = broker;
    d->password = password.toUtf8();
    d->stateTopic = (broker.baseTopic + QLatin1String("/bridge/state")).toUtf8();
}

MqttBridge::~MqttBridge()
{
    stop();
}

bool MqttBridge::start(QString &error)
{
    std::call_once(libraryStarted, [] { mosquitto_lib_init(); });
    if (d->client) {
        error = QStringLiteral("mqtt: the bridge is started already");
        return false;
    }
    if (d->broker.tls && !d->broker.caFile.isEmpty()) {
        error = caFileFault(d->broker.caFile);
        if (!error.isEmpty())
            return false;
    }
    if (!d->setUp(error)) {
        mosquitto_destroy(d->client);
        d->client = nullptr;
        return false;
    }
    const QByteArray host = d->broker.host.toUtf8();
    // A broker that is away now is tried again by the network thread.
    const int rc =
        mosquitto_connect_async(d->client, host.constData(), d->broker.port, keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::lock_guard lock(d->mutex);
        d->attempted = true;
    }
    const int loop = mosquitto_loop_start(d->client);
    if (loop != MOSQ_ERR_SUCCESS) {
        error = QStringLiteral("mqtt: %1").arg(QString::fromUtf8(mosquitto_strerror(loop)));
        mosquitto_destroy(d->client);
        d->client = nullptr;
        return false;
    }
    return true;
}

void MqttBridge::stop(int timeoutMs)
{
    if (!d->client)
        return;
    {
        std::unique_lock lock(d->mutex);
        if (d->connected) {
            static const QByteArray offline("offline");
            int mid = 0;
            d->lastAcknowledged = false;
            if (mosquitto_publish(d->client, &mid, d->stateTopic.constData(), int(offline.size()),
                                  offline.constData(), 1, true) == MOSQ_ERR_SUCCESS) {
                d->lastMid = mid;
                d->acknowledged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [this] { return d->lastAcknowledged || !d->connected; });
            }
        }
    }
    mosquitto_disconnect(d->client);
    mosquitto_loop_stop(d->client, false);
    mosquitto_destroy(d->client);
    d->client = nullptr;
    std::lock_guard lock(d->mutex);
    d->connected = false;
}

void MqttBridge::publishRetained(const QString &topic, const QByteArray &payload)
{
    const QByteArray name = topic.toUtf8();
    std::lock_guard lock(d->mutex);
    d->retained[name] = payload;
    if (d->connected) {
        mosquitto_publish(d->client, nullptr, name.constData(), int(payload.size()),
                          payload.constData(), 0, true);
    }
}

void MqttBridge::publishEvent(const QString &topic, const QByteArray &payload)
{
    std::lock_guard lock(d->mutex);
    if (int(d->events.size()) >= eventQueueBound && d->inFlight < int(d->events.size())) {
        // The oldest that the library does not hold yet goes first.
        d->events.erase(d->events.begin() + d->inFlight);
        ++d->dropped;
    }
    d->events.push_back({topic.toUtf8(), payload, 0});
    if (d->client)
        d->sendEventsLocked();
}

void MqttBridge::publishOnce(const QString &topic, const QByteArray &payload)
{
    const QByteArray name = topic.toUtf8();
    std::lock_guard lock(d->mutex);
    if (d->connected) {
        mosquitto_publish(d->client, nullptr, name.constData(), int(payload.size()),
                          payload.constData(), 0, false);
    }
}

void MqttBridge::subscribe(const QString &filter)
{
    const QByteArray name = filter.toUtf8();
    std::lock_guard lock(d->mutex);
    d->filters.push_back(name);
    if (d->connected)
        mosquitto_subscribe(d->client, nullptr, name.constData(), 1);
}

bool MqttBridge::isConnected() const
{
    std::lock_guard lock(d->mutex);
    return d->connected;
}

bool MqttBridge::attempted() const
{
    std::lock_guard lock(d->mutex);
    return d->attempted;
}

int MqttBridge::queuedEvents() const
{
    std::lock_guard lock(d->mutex);
    return int(d->events.size());
}

} // namespace monitor
