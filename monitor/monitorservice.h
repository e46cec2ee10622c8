#pragma once

#include "linepoller.h"
#include "monitorconfig.h"
#include "monitorsink.h"
#include "mqttbridge.h"
#include "unitsnapshot.h"

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

namespace monitor {

// The monitor as a whole: one poller per line, one broker connection, and between them what
// has been published (the last state of every unit), so only changes go out.
//
// Threads: the constructor, start(), stop(), reload() and keepWatchdog() are the owner's
// (the program's main thread); the sink's members run on the pollers' threads, the broker's
// callbacks on its network thread.
class MonitorService : public MonitorSink
{
public:
    MonitorService(const MonitorConfig &config, const QString &password);
    ~MonitorService() override;

    // Starts the broker connection and every line. False with `error` when the broker
    // connection cannot be set up at all.
    bool start(QString &error);
    // Every line stopped (ports released), "offline" for the bridge, a clean disconnect.
    void stop();
    // Lines stopped and started again with `config`'s; the broker connection too when its
    // settings changed.
    bool reload(const MonitorConfig &config, const QString &password, QString &error);

    // Every line has been tried and the broker attempted.
    bool isReady() const;
    // True (and WATCHDOG=1 sent) when every line's poller made progress within `withinMs`.
    bool keepWatchdog(qint64 withinMs);

    // MonitorSink
    void unitRead(const UnitSnapshot &unit) override;
    void unitAvailability(const QString &line, int address, bool online) override;
    void lineTried(const QString &line) override;
    void lineMessage(const QString &line, const QString &text) override;
    void commandDone(const QString &line, int address, const QString &topic, bool ok,
                     const QString &error) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace monitor
