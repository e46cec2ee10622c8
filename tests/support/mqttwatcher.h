#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

struct mosquitto;

// One message a watcher received.
struct MqttMessage
{
    QString topic;
    QByteArray payload;
    bool retained = false; // the broker's kept copy, not one sent now
    qint64 arrivedMs = 0;  // the watcher's monotonic clock
};

// A subscriber for the tests: its own libmosquitto client (QoS 1, clean session) on
// 127.0.0.1, collecting what arrives on its topics. It comes back by itself after a broker
// restart and subscribes again. Messages arrive on the library's thread; waitFor() runs the
// caller's event loop until they do.
class MqttWatcher : public QObject
{
    Q_OBJECT

public:
    MqttWatcher(quint16 port, const QStringList &topics, const QString &username = {},
                const QString &password = {});
    ~MqttWatcher() override;

    // Connects and waits until every topic is subscribed. False on a timeout.
    bool start(int timeoutMs = 10000);
    void stop();
    // True once subscribed on the present connection (false again while the broker is away).
    bool isSubscribed() const;
    bool waitSubscribed(int timeoutMs);

    QList<MqttMessage> messages() const;
    QList<MqttMessage> messagesOn(const QString &topic) const;
    void clear();
    // Runs the event loop until `predicate` holds for what arrived, at most `timeoutMs`.
    bool waitFor(const std::function<bool(const QList<MqttMessage> &)> &predicate, int timeoutMs);
    // Until the last message on `topic` carries `payload` (and, unless null, that retained flag).
    bool waitForPayload(const QString &topic, const QByteArray &payload, int timeoutMs);

signals:
    void changed(); // emitted on the library's thread

private:
    static void connected(mosquitto *, void *self, int rc);
    static void disconnected(mosquitto *, void *self, int rc);
    static void subscribed(mosquitto *, void *self, int mid, int count, const int *granted);
    static void received(mosquitto *, void *self, const struct mosquitto_message *message);

    quint16 brokerPort;
    QStringList filters;
    QByteArray user;
    QByteArray secret;
    mosquitto *client = nullptr;
    mutable std::mutex mutex;
    QList<MqttMessage> arrived;
    int subscriptions = 0;
};
