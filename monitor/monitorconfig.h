#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What `vertal-cli monitor --config FILE` is told to watch and where to publish it. The file
// is checked whole before anything is opened: a fault names its key ("lines[1].units: ...").
namespace monitor {

struct BrokerSettings
{
    QString url;        // as written: mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
    QString host;       // from the url
    int port = 1883;    // from the url; 1883 (mqtt) or 8883 (mqtts) when it names none
    bool tls = false;   // mqtts://
    QString clientId;   // default "vertal-<hostname>"
    QString baseTopic;  // required, no wildcard, no leading or trailing '/'
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString username;     // empty: none
    QString passwordFile; // empty: none (needs a username)
    QString caFile;       // empty: the system's store (mqtts only)
};

struct LineSettings
{
    QString name;       // [a-z0-9_-]+, unique among the lines
    QString port;       // a device path, a port name or rfc2217:// / tcp:// server
    int speed = 0;      // 0: found by the search (the known speed first)
    QList<int> units;   // addresses 1..255, ascending, no repeats
    bool unitRange = false; // `units` came from a "A-B" range: scanned, and scanned again
    bool values = false;    // read each input board's current value every cycle
};

struct MonitorConfig
{
    BrokerSettings mqtt;
    int pollMs = 500;      // 100..60000
    bool commands = false; // accept relay and input commands from the broker
    QList<LineSettings> lines; // at least one
};

// Reads at most 1 MiB of `path` and parses it. False with `error` ("FILE: ..." for a file
// that cannot be read, "KEY: ..." for a fault in it).
bool readMonitorConfig(const QString &path, MonitorConfig &config, QString &error);
// The whole check of one document. Unknown keys are faults (a misspelt key must not be
// silently ignored on a security system).
bool parseMonitorConfig(const QByteArray &json, MonitorConfig &config, QString &error);

// Empty when commands may be accepted on this broker connection; otherwise the reason:
// switching an alarm relay is a security action, so a broker that is neither on the
// loopback address nor reached with a username over TLS is refused.
QString commandsRefusal(const BrokerSettings &broker);

} // namespace monitor
