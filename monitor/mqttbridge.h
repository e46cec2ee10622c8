#pragma once

#include "monitorconfig.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace monitor {

// The monitor's one connection to the MQTT broker, through libmosquitto (its own network
// thread; every member may be called from any thread).
//
// - The will and, on a clean stop, the last message: BASE/bridge/state "offline", retained.
// - Retained messages are kept (the last per topic) and published again on every
//   reconnect, after "online" for the bridge, so a broker that lost them gets them back.
// - Events (QoS 1, not retained) wait in a bounded queue while the broker is away, the
//   oldest dropped first; they go out in order when it is back, each taken off the queue
//   once the broker acknowledged it. The number dropped is told to onDropped().
// - Reconnects with a backoff of 1 s doubling up to 30 s; a refusal (bad password, a
//   certificate that does not verify) is told to onProblem() with its reason, once per
//   change of reason, and tried again all the same.
class MqttBridge
{
public:
    static constexpr int eventQueueBound = 10000;

    // `password`: read from the password file by the caller (empty: none).
    MqttBridge(const BrokerSettings &broker, const QString &password);
    ~MqttBridge(); // stop()s
    MqttBridge(const MqttBridge &) = delete;
    MqttBridge &operator=(const MqttBridge &) = delete;

    // Sets up the client (will, credentials, TLS) and starts connecting in the background.
    // False with `error` for what cannot work at all (a CA file that cannot be read, the
    // library refusing a setting); a broker that is away is no error.
    bool start(QString &error);
    // Publishes "offline" for the bridge (when connected), disconnects cleanly and ends the
    // network thread; waits at most `timeoutMs` for the broker to take the last message.
    void stop(int timeoutMs = 2000);

    void publishRetained(const QString &topic, const QByteArray &payload);
    void publishEvent(const QString &topic, const QByteArray &payload);
    // Not kept, not queued (a command's response): lost while the broker is away.
    void publishOnce(const QString &topic, const QByteArray &payload);
    // Topic filters (subscribed again on every reconnect).
    void subscribe(const QString &filter);

    bool isConnected() const;
    // True once the first connection attempt has ended (connected or refused).
    bool attempted() const;
    int queuedEvents() const;

    // Called on the network thread. `retained`: a message the broker kept, not one sent now
    // (a command must never act on it: it would act again at every restart).
    std::function<void(const QString &topic, const QByteArray &payload, bool retained)> onMessage;
    std::function<void()> onConnected; // after the retained messages went out again
    std::function<void(const QString &reason)> onProblem;
    std::function<void(int dropped)> onDropped; // when the broker is back after drops

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace monitor
