#include "mqttwatcher.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <mosquitto.h>

namespace {

constexpr int keepAliveSeconds = 30;
constexpr qsizetype messageBound = 200000;

qint64 nowMs()
{
    static QElapsedTimer clock;
    static std::once_flag started;
    std::call_once(started, [] { clock.start(); });
    return clock.elapsed();
}

} // namespace

MqttWatcher::MqttWatcher(quint16 port, const QStringList &topics, const QString &username,
                         const QString &password)
    : brokerPort(port), filters(topics), user(username.toUtf8()), secret(password.toUtf8())
{
    static std::once_flag library;
    std::call_once(library, [] { mosquitto_lib_init(); });
    nowMs();
}

MqttWatcher::~MqttWatcher()
{
    stop();
}

bool MqttWatcher::start(int timeoutMs)
{
    stop();
    client = mosquitto_new(nullptr, true, this);
    if (!client)
        return false;
    if (!user.isEmpty())
        mosquitto_username_pw_set(client, user.constData(), secret.constData());
    // Back within a second of the broker's return, so that a test can wait for it.
    mosquitto_reconnect_delay_set(client, 1, 1, false);
    mosquitto_connect_callback_set(client, &MqttWatcher::connected);
    mosquitto_disconnect_callback_set(client, &MqttWatcher::disconnected);
    mosquitto_subscribe_callback_set(client, &MqttWatcher::subscribed);
    mosquitto_message_callback_set(client, &MqttWatcher::received);
    mosquitto_connect_async(client, "127.0.0.1", brokerPort, keepAliveSeconds);
    mosquitto_loop_start(client);
    return waitSubscribed(timeoutMs);
}

void MqttWatcher::stop()
{
    if (!client)
        return;
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    client = nullptr;
    std::lock_guard lock(mutex);
    subscriptions = 0;
}

bool MqttWatcher::isSubscribed() const
{
    std::lock_guard lock(mutex);
    return subscriptions >= filters.size();
}

bool MqttWatcher::waitSubscribed(int timeoutMs)
{
    return waitFor([this](const QList<MqttMessage> &) { return isSubscribed(); }, timeoutMs);
}

QList<MqttMessage> MqttWatcher::messages() const
{
    std::lock_guard lock(mutex);
    return arrived;
}

QList<MqttMessage> MqttWatcher::messagesOn(const QString &topic) const
{
    QList<MqttMessage> found;
    for (const MqttMessage &message : messages()) {
        if (message.topic == topic)
            found << message;
    }
    return found;
}

void MqttWatcher::clear()
{
    std::lock_guard lock(mutex);
    arrived.clear();
}

bool MqttWatcher::waitFor(const std::function<bool(const QList<MqttMessage> &)> &predicate,
                          int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // Connected before the look, so that a message arriving in between ends the wait.
        QEventLoop loop;
        connect(this, &MqttWatcher::changed, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (predicate(messages()))
            return true;
        if (deadline.hasExpired())
            return false;
        QTimer::singleShot(int(deadline.remainingTime()), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

bool MqttWatcher::waitForPayload(const QString &topic, const QByteArray &payload, int timeoutMs)
{
    return waitFor(
        [&](const QList<MqttMessage> &all) {
            for (qsizetype i = all.size() - 1; i >= 0; --i) {
                if (all[i].topic == topic)
                    return all[i].payload == payload;
            }
            return false;
        },
        timeoutMs);
}

void MqttWatcher::connected(mosquitto *client, void *self, int rc)
{
    auto *watcher = static_cast<MqttWatcher *>(self);
    if (rc != 0)
        return;
    for (const QString &filter : watcher->filters)
        mosquitto_subscribe(client, nullptr, filter.toUtf8().constData(), 1);
}

void MqttWatcher::disconnected(mosquitto *, void *self, int)
{
    auto *watcher = static_cast<MqttWatcher *>(self);
    {
        std::lock_guard lock(watcher->mutex);
        watcher->subscriptions = 0;
    }
    emit watcher->changed();
}

void MqttWatcher::subscribed(mosquitto *, void *self, int, int, const int *)
{
    auto *watcher = static_cast<MqttWatcher *>(self);
    {
        std::lock_guard lock(watcher->mutex);
        ++watcher->subscriptions;
    }
    emit watcher->changed();
}

void MqttWatcher::received(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *watcher = static_cast<MqttWatcher *>(self);
    MqttMessage copy;
    copy.topic = QString::fromUtf8(message->topic);
    copy.payload = QByteArray(static_cast<const char *>(message->payload),
                              message->payload ? message->payloadlen : 0);
    copy.retained = message->retain;
    copy.arrivedMs = nowMs();
    {
        std::lock_guard lock(watcher->mutex);
        if (watcher->arrived.size() < messageBound)
            watcher->arrived << copy;
    }
    emit watcher->changed();
}
