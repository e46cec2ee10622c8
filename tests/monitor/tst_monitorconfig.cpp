// The monitor's own checks and messages: its configuration and password file, the state, the
// events and the discovery it publishes, the commands it takes from the broker.

#include "commandcodes.h"
#include "discovery.h"
#include "monitorconfig.h"
#include "passwordfile.h"
#include "unitcommand.h"
#include "unitevents.h"
#include "unitsnapshot.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace monitor;

namespace {

const char validDocument[] = R"({"mqtt":{"url":"mqtt://127.0.0.1","base_topic":"vertal"},)"
                             R"("lines":[{"name":"hall","port":"/dev/ttyUSB0","units":[1]}]})";

// The valid document with `value` (JSON text; empty: removed) at `path` ("mqtt.url",
// "lines[0].units"); the whole document when `path` is empty.
QByteArray patched(const QString &path, const QByteArray &value)
{
    if (path.isEmpty())
        return value;
    QJsonObject root = QJsonDocument::fromJson(validDocument).object();
    const QJsonValue newValue = QJsonDocument::fromJson("[" + value + "]").array().at(0);
    const QStringList keys = path.split(QLatin1Char('.'));
    QJsonObject mqtt = root.value("mqtt").toObject();
    QJsonArray lines = root.value("lines").toArray();
    auto set = [&](QJsonObject &object, const QString &key) {
        if (value.isEmpty())
            object.remove(key);
        else
            object.insert(key, newValue);
    };
    if (keys[0] == QLatin1String("mqtt") && keys.size() == 2) {
        set(mqtt, keys[1]);
        root.insert("mqtt", mqtt);
    } else if (keys[0].startsWith(QLatin1String("lines["))) {
        const int index = keys[0].mid(6).chopped(1).toInt();
        if (keys.size() == 1) {
            lines.insert(index, newValue); // a line before (or after) the valid one
        } else {
            QJsonObject line = lines.at(index).toObject();
            set(line, keys[1]);
            lines.replace(index, line);
        }
        root.insert("lines", lines);
    } else {
        set(root, keys[0]);
    }
    return QJsonDocument(root).toJson();
}

// Boards written "i16 r n u": kind (input, relay, none, unused) and an input's status byte.
UnitSnapshot unitOf(const QString &boards, bool values = false)
{
    UnitSnapshot unit;
    unit.line = QStringLiteral("hall");
    unit.address = 1;
    unit.speed = 9600;
    unit.versionMajor = 1;
    unit.versionMinor = 5;
    unit.values = values;
    unit.readAt = QDateTime(QDate(2026, 12, 9), QTime(15, 40, 55, 123), Qt::UTC);
    const QStringList words = boards.split(QLatin1Char(' '));
    for (int i = 0; i < words.size(); ++i) {
        const int kinds[] = {InputBoard, RelayBoard, NoBoard, UnusedBoardKind};
        unit.boards[i].kind = kinds[QStringLiteral("irnu").indexOf(words[i][0])];
        unit.boards[i].statusByte = words[i].mid(1).toInt();
        unit.boardMap |= unit.boards[i].kind << (2 * i);
    }
    return unit;
}

QJsonObject parsedObject(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    return error.error == QJsonParseError::NoError ? document.object() : QJsonObject();
}

} // namespace

class TestMonitorConfig : public QObject
{
    Q_OBJECT
private slots:
    void configFaults_data();
    void configFaults();
    void configDefaults();
    void configFiles();
    void commandsRefusal_data();
    void commandsRefusal();
    void passwordFile_data();
    void passwordFile();
    void state_data();
    void state();
    void events_data();
    void events();
    void discovery();
    void commands_data();
    void commands();
};

void TestMonitorConfig::configFaults_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("key");
    const auto row = [](const char *name, const char *path, const char *value, const char *key) {
        QTest::newRow(name) << QString(path) << QByteArray(value) << QString(key);
    };
    row("not JSON", "", "{\"mqtt\":", "JSON");
    row("a list", "", "[]", "JSON");
    row("unknown key", "colour", "1", "colour");
    row("unknown broker key", "mqtt.usr", "\"a\"", "mqtt.usr");
    row("unknown line key", "lines[0].speeed", "9600", "lines[0].speeed");
    row("no broker", "mqtt", "", "mqtt");
    row("no url", "mqtt.url", "", "mqtt.url");
    row("url a number", "mqtt.url", "1883", "mqtt.url");
    row("url http", "mqtt.url", "\"http://host\"", "mqtt.url");
    row("url path", "mqtt.url", "\"mqtt://host:1883/x\"", "mqtt.url");
    row("url port 0", "mqtt.url", "\"mqtt://host:0\"", "mqtt.url");
    row("url port 65536", "mqtt.url", "\"mqtt://host:65536\"", "mqtt.url");
    row("url no host", "mqtt.url", "\"mqtt://:1883\"", "mqtt.url");
    row("url account", "mqtt.url", "\"mqtt://u:p@host\"", "mqtt.url");
    row("url bare IPv6", "mqtt.url", "\"mqtt://::1\"", "mqtt.url");
    row("url bad IPv6", "mqtt.url", "\"mqtt://[::g]:1883\"", "mqtt.url");
    row("no base topic", "mqtt.base_topic", "", "mqtt.base_topic");
    row("empty base topic", "mqtt.base_topic", "\"\"", "mqtt.base_topic");
    row("base topic +", "mqtt.base_topic", "\"a/+\"", "mqtt.base_topic");
    row("base topic leading /", "mqtt.base_topic", "\"/a\"", "mqtt.base_topic");
    row("base topic trailing /", "mqtt.base_topic", "\"a/\"", "mqtt.base_topic");
    row("prefix #", "mqtt.discovery_prefix", "\"ha/#\"", "mqtt.discovery_prefix");
    row("empty client id", "mqtt.client_id", "\"\"", "mqtt.client_id");
    row("password without account", "mqtt.password_file", "\"/p\"", "mqtt.password_file");
    row("CA without TLS", "mqtt.ca_file", "\"/ca.pem\"", "mqtt.ca_file");
    row("poll 99", "poll_ms", "99", "poll_ms");
    row("poll 60001", "poll_ms", "60001", "poll_ms");
    row("poll fraction", "poll_ms", "500.5", "poll_ms");
    row("poll huge", "poll_ms", "1e300", "poll_ms");
    row("commands text", "commands", "\"yes\"", "commands");
    row("no lines", "lines", "", "lines");
    row("empty lines", "lines", "[]", "lines");
    row("line a number", "lines[0]", "3", "lines[0]");
    row("no name", "lines[0].name", "", "lines[0].name");
    row("name upper case", "lines[0].name", "\"Hall\"", "lines[0].name");
    row("name twice", "lines[1]", R"({"name":"hall","port":"/dev/x","units":[1]})",
        "lines[1].name");
    row("port twice", "lines[1]", R"({"name":"b","port":"/dev/ttyUSB0","units":[1]})",
        "lines[1].port");
    row("no port", "lines[0].port", "", "lines[0].port");
    row("speed 1200", "lines[0].speed", "1200", "lines[0].speed");
    row("speed 0", "lines[0].speed", "0", "lines[0].speed");
    row("no units", "lines[0].units", "", "lines[0].units");
    row("no address", "lines[0].units", "[]", "lines[0].units");
    row("address 0", "lines[0].units", "[0]", "lines[0].units[0]");
    row("address 256", "lines[0].units", "[1,256]", "lines[0].units[1]");
    row("address twice", "lines[0].units", "[3,1,3]", "lines[0].units[2]");
    row("address fraction", "lines[0].units", "[1.5]", "lines[0].units[0]");
    row("range reversed", "lines[0].units", "\"5-2\"", "lines[0].units");
    row("range to 256", "lines[0].units", "\"1-256\"", "lines[0].units");
    row("values text", "lines[0].values", "\"true\"", "lines[0].values");
}

// Each fault is found and named by its key; nothing of a refused document is kept.
void TestMonitorConfig::configFaults()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, value);
    QFETCH(QString, key);
    MonitorConfig config;
    QString error;
    QVERIFY(!parseMonitorConfig(patched(path, value), config, error));
    QVERIFY2(error.startsWith(key + QLatin1String(": ")), qPrintable(error));
    QVERIFY(config.lines.isEmpty());
}

void TestMonitorConfig::configDefaults()
{
    MonitorConfig config;
    QString error;
    QVERIFY2(parseMonitorConfig(validDocument, config, error), qPrintable(error));
    QCOMPARE(config.mqtt.host, QStringLiteral("127.0.0.1"));
    QCOMPARE(config.mqtt.port, 1883);
    QVERIFY(!config.mqtt.tls);
    QCOMPARE(config.mqtt.clientId, "vertal-" + QSysInfo::machineHostName());
    QCOMPARE(config.mqtt.discoveryPrefix, QStringLiteral("homeassistant"));
    QCOMPARE(config.pollMs, 500);
    QVERIFY(!config.commands);
    QCOMPARE(config.lines.size(), 1);
    QCOMPARE(config.lines[0].speed, 0);
    QVERIFY(!config.lines[0].values && !config.lines[0].unitRange);

    const char full[] =
        R"({"mqtt":{"url":"mqtts://[::1]","client_id":"m","base_topic":"a/b",)"
        R"("discovery_prefix":"ha","username":"u","password_file":"/p","ca_file":"/c"},)"
        R"("poll_ms":100,"commands":true,"lines":[)"
        R"({"name":"hall","port":"/dev/ttyUSB0","speed":9600,"units":[5,1,2],"values":true},)"
        R"({"name":"annex-2","port":"rfc2217://10.1.2.3:3001","units":"1-32"}]})";
    QVERIFY2(parseMonitorConfig(full, config, error), qPrintable(error));
    QCOMPARE(config.mqtt.host, QStringLiteral("::1"));
    QCOMPARE(config.mqtt.port, 8883);
    QVERIFY(config.mqtt.tls && config.commands);
    QCOMPARE(config.lines[0].units, QList<int>({1, 2, 5}));
    QCOMPARE(config.lines[1].units.size(), 32);
    QVERIFY(config.lines[1].unitRange);
}

void TestMonitorConfig::configFiles()
{
    QTemporaryDir dir;
    MonitorConfig config;
    QString error;
    QFile file(dir.filePath("monitor.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(validDocument);
    file.close();
    QVERIFY2(readMonitorConfig(file.fileName(), config, error), qPrintable(error));

    QVERIFY(file.open(QIODevice::Append));
    file.write(QByteArray(1024 * 1024, ' ')); // valid JSON still, but beyond the bound
    file.close();
    QVERIFY(!readMonitorConfig(file.fileName(), config, error));
    QVERIFY2(error.contains("larger than 1 MiB"), qPrintable(error));
    QVERIFY(!readMonitorConfig(dir.path(), config, error));
    QVERIFY2(error.contains("not a regular file"), qPrintable(error));
    QVERIFY(!readMonitorConfig(dir.filePath("none"), config, error));
    QVERIFY2(error.startsWith(dir.filePath("none") + ": cannot be read"), qPrintable(error));
}

void TestMonitorConfig::commandsRefusal_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("username");
    QTest::addColumn<bool>("taken");
    QTest::newRow("127.0.0.1") << "mqtt://127.0.0.1"
                               << "" << true;
    QTest::newRow("127.8.9.10") << "mqtt://127.8.9.10:1"
                                << "" << true;
    QTest::newRow("::1") << "mqtt://[::1]"
                         << "" << true;
    QTest::newRow("LocalHost") << "mqtt://LocalHost"
                               << "" << true;
    QTest::newRow("128.0.0.1") << "mqtt://128.0.0.1"
                               << "" << false;
    QTest::newRow("a name beginning 127") << "mqtt://127.example.com"
                                          << "" << false;
    QTest::newRow("account, no TLS") << "mqtt://10.0.0.1"
                                     << "u" << false;
    QTest::newRow("TLS, no account") << "mqtts://10.0.0.1"
                                     << "" << false;
    QTest::newRow("TLS and account") << "mqtts://broker.example"
                                     << "u" << true;
}

void TestMonitorConfig::commandsRefusal()
{
    QFETCH(QString, url);
    QFETCH(QString, username);
    QFETCH(bool, taken);
    MonitorConfig config;
    QString error;
    QJsonObject mqtt{{"url", url}, {"base_topic", "v"}};
    if (!username.isEmpty())
        mqtt.insert("username", username);
    const QJsonObject root{
        {"mqtt", mqtt},
        {"lines", QJsonArray{QJsonObject{{"name", "a"}, {"port", "p"}, {"units", "1-2"}}}}};
    QVERIFY2(parseMonitorConfig(QJsonDocument(root).toJson(), config, error), qPrintable(error));
    const QString reason = monitor::commandsRefusal(config.mqtt);
    QCOMPARE(reason.isEmpty(), taken);
    if (!taken) // both ways out
        QVERIFY2(reason.contains("loopback") && reason.contains("mqtts://") &&
                     reason.contains("mqtt.username"),
                 qPrintable(reason));
}

void TestMonitorConfig::passwordFile_data()
{
    QTest::addColumn<QString>("kind"); // file, dir, fifo, none
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("result"); // the password, or what follows "PATH " in the refusal
    const auto file = [](const char *name, int mode, const QByteArray &content, bool taken,
                         const QString &result) {
        QTest::newRow(name) << "file" << mode << content << taken << result;
    };
    file("0600", 0600, "secret\n", true, "secret");
    file("0400, CR LF", 0400, "s p\r\nmore", true, "s p");
    file("no line end", 0600, "secret", true, "secret");
    file("4 KiB", 0600, QByteArray(4096, 'x'), true, QString(4096, 'x'));
    file("0644", 0644, "s", false, "may be read by others (mode 0644): chmod 600 it");
    file("0640", 0640, "s", false, "may be read by others (mode 0640): chmod 600 it");
    file("0604", 0604, "s", false, "may be read by others (mode 0604): chmod 600 it");
    file("0620", 0620, "s", false, "may be read by others (mode 0620): chmod 600 it");
    file("empty", 0600, "", false, "is empty");
    file("empty first line", 0600, "\ns", false, "holds no password on its first line");
    file("4 KiB + 1", 0600, QByteArray(4097, 'x'), false, "is larger than 4 KiB");
    QTest::newRow("folder") << "dir" << 0700 << QByteArray() << false << "is not a regular file";
    QTest::newRow("FIFO, no wait")
        << "fifo" << 0600 << QByteArray() << false << "is not a regular file";
    QTest::newRow("missing") << "none" << 0600 << QByteArray() << false << "cannot be read";
}

void TestMonitorConfig::passwordFile()
{
    QFETCH(QString, kind);
    QFETCH(int, mode);
    QFETCH(QByteArray, content);
    QFETCH(bool, taken);
    QFETCH(QString, result);
    QTemporaryDir dir;
    const QString path = dir.filePath("mqtt-password");
    const QByteArray name = QFile::encodeName(path);
    QFile file(path);
    if (kind == "file") {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
    }
    if (kind == "dir")
        QVERIFY(QDir(dir.path()).mkdir("mqtt-password"));
    if (kind == "fifo")
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    if (kind != "none")
        QCOMPARE(::chmod(name.constData(), mode_t(mode)), 0);
    QString password;
    QString error;
    QCOMPARE(readPasswordFile(path, password, error), taken);
    if (taken)
        QCOMPARE(password, result);
    else
        QVERIFY2(error.startsWith(path + ' ' + result), qPrintable(error));
}

void TestMonitorConfig::state_data()
{
    QTest::addColumn<QString>("boards");
    QTest::addColumn<bool>("values");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray head =
        R"({"line":"hall","address":1,"firmware":"1.5","speed":9600,"boards":[)";
    const QByteArray tail = R"({"position":2,"kind":"relay"},{"position":3,"kind":"none"},)"
                            R"({"position":4,"kind":"unused"}]})";
    const QByteArray input = R"({"position":1,"kind":"input","status":"alarm","tamper":true,)"
                             R"("status_byte":19,"relay":2,"time":30,"period":5)";
    QTest::newRow("values off") << "i19 r n u" << false << 1234 << head + input + "}," + tail;
    QTest::newRow("values on") << "i19 r n u" << true << 1234
                               << head + input + R"(,"value":1234},)" + tail;
    QTest::newRow("value not read yet")
        << "i19 r n u" << true << -1 << head + input + R"(,"value":null},)" + tail;
}

void TestMonitorConfig::state()
{
    QFETCH(QString, boards);
    QFETCH(bool, values);
    QFETCH(int, value);
    QFETCH(QByteArray, expected);
    UnitSnapshot unit = unitOf(boards, values);
    unit.boards[0].value = value;
    unit.boards[0].relay = 2;
    unit.boards[0].time = 30;
    unit.boards[0].period = 5;
    QCOMPARE(QJsonDocument(stateJson(unit)).toJson(QJsonDocument::Compact),
             QJsonDocument::fromJson(expected).toJson(QJsonDocument::Compact));
    QVERIFY(unit.caseOpen());
    UnitSnapshot later = unit;
    later.readAt = later.readAt.addSecs(1);
    QVERIFY(unit.sameState(later));
    later.boards[0].value = value + 1;
    QVERIFY(!unit.sameState(later));
}

void TestMonitorConfig::events_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QStringList>("events"); // "position from>to"
    QTest::newRow("nothing") << "i0 i1"
                             << "i0 i1" << QStringList();
    QTest::newRow("alarm") << "i0 i0"
                           << "i0 i1" << QStringList{"2 normal>alarm"};
    QTest::newRow("fault") << "i0 i0"
                           << "i2 i0" << QStringList{"1 normal>fault"};
    QTest::newRow("both: the alarm wins") << "i0 r"
                                          << "i3 r" << QStringList{"1 normal>alarm"};
    QTest::newRow("alarm to fault") << "i3"
                                    << "i2" << QStringList{"1 alarm>fault"};
    QTest::newRow("cleared") << "i1 i2"
                             << "i0 i0" << QStringList{"1 alarm>normal", "2 fault>normal"};
    QTest::newRow("case open, alarm")
        << "i0 i0"
        << "i0 i17" << QStringList{"0 case_closed>case_open", "2 normal>alarm"};
    QTest::newRow("case closed") << "i16 i16"
                                 << "i0 i0" << QStringList{"0 case_open>case_closed"};
    QTest::newRow("case bit of a relay board") << "i0 r"
                                               << "i0 r16" << QStringList();
    QTest::newRow("kind changed") << "i1 r"
                                  << "r i1" << QStringList();
}

void TestMonitorConfig::events()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QStringList, events);
    QStringList found;
    const UnitSnapshot later = unitOf(after);
    for (const UnitEvent &event : eventsBetween(unitOf(before), later)) {
        found << QStringLiteral("%1 %2>%3").arg(event.position).arg(event.from, event.to);
        QCOMPARE(event.time, later.readAt);
    }
    QCOMPARE(found, events);
    const UnitEvent event{later.readAt.toOffsetFromUtc(3600), 1, "normal", "alarm"};
    QCOMPARE(QJsonDocument(eventJson(event)).toJson(QJsonDocument::Compact),
             QByteArray(R"({"from":"normal","position":1,"time":"2026-12-09T15:40:55.123Z",)"
                        R"("to":"alarm"})"));
}

// Two units: every payload parses, names both availabilities, and no unique id is shared.
void TestMonitorConfig::discovery()
{
    BrokerSettings broker;
    broker.baseTopic = "site/v";
    broker.discoveryPrefix = "ha";
    UnitSnapshot second = unitOf("n r i0 n");
    second.line = "annex";
    const QList<DiscoveryMessage> first =
        discoveryMessages(broker, "vertal-box.lan", unitOf("i0 r i0 n", true));
    QCOMPARE(first.size(), 7); // the case, and alarm, fault and value of two input boards
    const QList<DiscoveryMessage> all = first + discoveryMessages(broker, "vertal-box.lan", second);
    QCOMPARE(all.size(), 10);
    QSet<QString> ids;
    for (const DiscoveryMessage &message : all) {
        const QJsonObject payload = parsedObject(message.payload);
        const QString object = payload.value("object_id").toString();
        const bool sensor = object.endsWith("_value");
        QCOMPARE(message.topic, QStringLiteral("ha/%1/vertal-box_lan/%2/config")
                                    .arg(sensor ? "sensor" : "binary_sensor", object));
        ids << payload.value("unique_id").toString();
        QCOMPARE(payload.value("availability_mode").toString(), QStringLiteral("all"));
        const QJsonArray availability = payload.value("availability").toArray();
        QCOMPARE(availability.at(0)["topic"].toString(), QStringLiteral("site/v/bridge/state"));
        QCOMPARE(availability.at(1)["topic"].toString(),
                 payload.value("state_topic").toString().replace("/state", "/availability"));
        QCOMPARE(payload["device"]["sw_version"].toString(), QStringLiteral("1.5"));
        QCOMPARE(payload["device"]["via_device"].toString(), QStringLiteral("vertal-box.lan"));
        QCOMPARE(payload.contains("state_class"), sensor);
    }
    QCOMPARE(ids.size(), all.size());
    const QJsonObject alarm = parsedObject(first.at(4).payload);
    QCOMPARE(alarm.value("object_id").toString(), QStringLiteral("hall_1_input3_alarm"));
    QCOMPARE(alarm.value("value_template").toString(),
             QStringLiteral("{{ 'ON' if value_json.boards[2].status == 'alarm' else 'OFF' }}"));
    QCOMPARE(alarm.value("device_class").toString(), QStringLiteral("safety"));
    QCOMPARE(parsedObject(first.at(0).payload).value("value_template").toString(),
             QStringLiteral("{{ 'ON' if value_json.boards[0].tamper or "
                            "value_json.boards[2].tamper else 'OFF' }}"));
    QCOMPARE(unitTopic(broker, "hall", 7, "event"), QStringLiteral("site/v/hall/7/event"));
}

void TestMonitorConfig::commands_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("result"); // "switch ADDR N", "set ADDR N R T P", or the error
    const auto row = [](const char *name, const char *topic, const QByteArray &payload,
                        const char *result) {
        QTest::newRow(name) << QString(topic) << payload << QString(result);
    };
    const char setTopic[] = "v/a/1/input/1/set";
    row("switch", "v/hall/12/relay/3/switch", "ON", "switch 12 3");
    row("switch, 64 bytes", "v/a/1/relay/1/switch", QByteArray(64, 'x'), "switch 1 1");
    row("switch, 65 bytes", "v/a/1/relay/1/switch", QByteArray(65, 'x'), "larger than 64 bytes");
    row("set", "v/hall/255/input/4/set", R"({"relay":2,"time":30,"period":5})", "set 255 4 2 30 5");
    row("set, no relay", setTopic, R"({"relay":0,"time":0,"period":0})", "set 1 1 0 0 0");
    row("set, 1 KiB + 1", setTopic, "{}" + QByteArray(1023, ' '), "larger than 1 KiB");
    row("not JSON", setTopic, "{", "not a JSON object");
    row("a list", setTopic, "[2,30,5]", "not a JSON object");
    row("no period", setTopic, R"({"relay":2,"time":30})", "period: missing");
    row("relay text", setTopic, R"({"relay":"2","time":30,"period":5})", "relay: must be");
    row("time fraction", setTopic, R"({"relay":2,"time":30.5,"period":5})", "time: must be");
    row("unknown key", setTopic, R"({"relay":2,"time":30,"period":5,"x":1})", "x: unknown key");
    row("relay 5", setTopic, R"({"relay":5,"time":30,"period":5})", "relay: 5");
    row("time 301", setTopic, R"({"relay":1,"time":301,"period":5})", "time: 301");
    row("period 121", setTopic, R"({"relay":1,"time":300,"period":121})", "period: 121");
    row("time not above period", setTopic, R"({"relay":1,"time":5,"period":5})", "time: 5 s");
    row("other base", "w/a/1/relay/1/switch", "", "not a command topic");
    row("short", "v/a/1/relay/switch", "", "not a command topic");
    row("long", "v/a/1/relay/1/switch/x", "", "not a command topic");
    row("line upper case", "v/A/1/relay/1/switch", "", "not a command topic");
    row("relay set", "v/a/1/relay/1/set", "{}", "not a command:");
    row("address 0", "v/a/0/relay/1/switch", "", "the address \"0\"");
    row("address 256", "v/a/256/relay/1/switch", "", "the address \"256\"");
    row("address 01", "v/a/01/relay/1/switch", "", "the address \"01\"");
    row("board 0", "v/a/1/relay/0/switch", "", "the board \"0\"");
    row("board 5", "v/a/1/input/5/set", "{}", "the board \"5\"");
}

void TestMonitorConfig::commands()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, result);
    BrokerSettings broker;
    broker.baseTopic = "v";
    UnitCommand command;
    QString error;
    const bool taken = parseUnitCommand(broker, topic, payload, command, error);
    QStringList read{error};
    if (taken) {
        QCOMPARE(command.topic, topic);
        const bool set = command.kind == UnitCommand::Kind::SetInput;
        read = QStringList{set ? "set" : "switch"};
        for (const int number :
             {command.address, command.position, command.relay, command.time, command.period})
            read << QString::number(number);
        read = read.mid(0, set ? 6 : 3);
    }
    QVERIFY2(read.join(' ').contains(result), qPrintable(read.join(' ')));
    QCOMPARE(parsedObject(responsePayload(topic, taken, error)),
             taken ? QJsonObject({{"topic", topic}, {"ok", true}})
                   : QJsonObject({{"topic", topic}, {"ok", false}, {"error", error}}));
    QCOMPARE(commandFilters(broker), QStringList({"v/+/+/relay/+/switch", "v/+/+/input/+/set"}));
}

QTEST_GUILESS_MAIN(TestMonitorConfig)
#include "tst_monitorconfig.moc"
