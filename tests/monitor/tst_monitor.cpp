// vertal-cli monitor as the service manager runs it: a child process with a configuration
// file, two simulated lines (three units on one, one on the other), a real Mosquitto, the
// readiness socket. What a subscriber sees is what Home Assistant and the site's other
// systems would.
#include "clirunner.h"
#include "commandcodes.h"
#include "commandset.h"
#include "mosquittobroker.h"
#include "mqttwatcher.h"
#include "notifysocket.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <memory>

namespace {

constexpr int pollMs = 300;
// A unit's first state: the search at the line's speed and a whole read, well within this.
constexpr int startMs = 30000;
constexpr int changeMs = 10000;

QByteArray topicOf(const char *line, int address, const char *leaf)
{
    return QByteArray("vertal/") + line + '/' + QByteArray::number(address) + '/' + leaf;
}

QJsonObject lastJson(const MqttWatcher &watcher, const QString &topic)
{
    const QList<MqttMessage> on = watcher.messagesOn(topic);
    return on.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(on.last().payload).object();
}

QString boardStatus(const QJsonObject &state, int position)
{
    return state.value("boards").toArray().at(position - 1).toObject().value("status").toString();
}

// Two lines with the monitor in front of them and a broker behind it.
struct Site
{
    SimulatedLine hall{{cliUnit(1), cliUnit(2), cliUnit(5)}};
    SimulatedLine annex{{cliUnit(3)}};
    MosquittoBroker broker;
    QTemporaryDir dir;
    NotifySocket notify;
    QProcess monitor;

    QString configPath() const { return dir.filePath("monitor.json"); }

    QJsonObject config(bool commands) const
    {
        const QJsonObject mqtt{{"url", broker.url()},
                               {"client_id", "vertal-test"},
                               {"base_topic", "vertal"}};
        const QJsonArray lines{
            QJsonObject{{"name", "hall"}, {"port", hall.path()}, {"speed", 4800},
                        {"units", QJsonArray{1, 2, 5}}, {"values", true}},
            QJsonObject{{"name", "annex"}, {"port", annex.path()}, {"units", "1-4"}}};
        return QJsonObject{{"mqtt", mqtt}, {"poll_ms", pollMs}, {"commands", commands},
                           {"lines", lines}};
    }

    bool writeConfig(const QJsonObject &document) const
    {
        QFile file(configPath());
        return file.open(QIODevice::WriteOnly) &&
               file.write(QJsonDocument(document).toJson()) > 0;
    }

    // Starts the broker (with an account for the subscriber, anonymous clients let in) and
    // the monitor (with the watchdog asked for every 2 s).
    bool start(bool commands = false)
    {
        MosquittoBroker::Options options;
        options.users = {{"watcher", "watcher-secret"}};
        if (!hall.isReady() || !annex.isReady() || !broker.start(options) || !notify.isOpen() ||
            !writeConfig(config(commands)))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NOTIFY_SOCKET", notify.path());
        env.insert("WATCHDOG_USEC", "2000000");
        monitor.setProcessEnvironment(env);
        monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startCli(monitor, {"monitor", "--config", configPath()});
        return monitor.state() == QProcess::Running;
    }

    // Every unit's first state and availability are in.
    bool waitAllOnline(MqttWatcher &watcher)
    {
        for (const auto &[line, address] :
             QList<QPair<const char *, int>>{{"hall", 1}, {"hall", 2}, {"hall", 5}, {"annex", 3}}) {
            if (!watcher.waitForPayload(topicOf(line, address, "availability"), "online", startMs))
                return false;
            if (!watcher.waitFor([&](const QList<MqttMessage> &) {
                    return !watcher.messagesOn(topicOf(line, address, "state")).isEmpty();
                }, startMs))
                return false;
        }
        return true;
    }

    // At least `cycles` more status requests to `address` on the hall line have come.
    bool waitPolls(int address, int cycles)
    {
        const QByteArray request = command::readStatus(address, 1);
        const int before = hall.server->framesWithPayload(request);
        return QTest::qWaitFor(
            [&] { return hall.server->framesWithPayload(request) >= before + cycles; }, changeMs);
    }

    ~Site()
    {
        if (monitor.state() != QProcess::NotRunning) {
            monitor.kill();
            monitor.waitForFinished(5000);
        }
    }
};

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT
private slots:
    void configurationFaultsEndAtOnce_data();
    void configurationFaultsEndAtOnce();
    void publishesUnitsAndTheirChanges();
    void eventsOutliveTheBroker();
    void killedMonitorReadsOffline();
    void hangUpReadsTheConfigurationAgain();
    void commands_data();
    void commands();
};

void TestMonitor::configurationFaultsEndAtOnce_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("named"); // what the message names
    QTest::newRow("not JSON") << QByteArray("{") << "monitor.json";
    QTest::newRow("no broker") << QByteArray(R"({"lines":[{"name":"a","port":"/dev/null","units":[1]}]})")
                               << "mqtt";
    QTest::newRow("line name")
        << QByteArray(R"({"mqtt":{"url":"mqtt://127.0.0.1","base_topic":"v"},"lines":[{"name":"Hall!","port":"/dev/null","units":[1]}]})")
        << "lines[0].name";
    QTest::newRow("commands on a remote broker without TLS")
        << QByteArray(R"({"mqtt":{"url":"mqtt://192.0.2.1","base_topic":"v"},"commands":true,"lines":[{"name":"a","port":"/dev/null","units":[1]}]})")
        << "commands";
}

// A fault in the configuration is said with its key and ends the program before any port
// or broker is touched (exit 2).
void TestMonitor::configurationFaultsEndAtOnce()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, named);
    QTemporaryDir dir;
    const QString path = dir.filePath("monitor.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(document);
    file.close();
    const CliRun run = runCli({"monitor", "--config", path});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(named.toUtf8()), run.err.constData());
}

// Every unit's retained state and availability soon after start, READY=1 and the
// watchdog's WATCHDOG=1, the discovery with unique ids; an alarm on the unit becomes one
// event and a new state; SIGTERM leaves "offline" for the bridge and exit 0.
void TestMonitor::publishesUnitsAndTheirChanges()
{
    Site site;
    QVERIFY2(site.start(), qPrintable(site.broker.errorString()));
    MqttWatcher subscriber(site.broker.port(), {"vertal/#", "homeassistant/#"});
    QVERIFY(subscriber.start());
    QVERIFY(site.waitAllOnline(subscriber));
    QVERIFY(site.notify.waitFor("READY=1", startMs));
    QVERIFY(site.notify.waitFor("WATCHDOG=1", changeMs));
    QVERIFY(subscriber.waitForPayload("vertal/bridge/state", "online", changeMs));

    const QJsonObject first = lastJson(subscriber, topicOf("hall", 2, "state"));
    const UnitState unit = site.hall.unit(1).state();
    QCOMPARE(first.value("firmware").toString(),
             QString("%1.%2").arg(unit.versionMajor).arg(unit.versionMinor));
    QCOMPARE(first.value("speed").toInt(), 4800);
    QCOMPARE(boardStatus(first, 1), QString("normal"));
    QVERIFY(first.value("boards").toArray().at(0).toObject().contains("value"));
    // The annex line's range found the one unit there, and nothing at the silent addresses.
    QVERIFY(subscriber.messagesOn(topicOf("annex", 1, "availability")).isEmpty());

    // Discovery: every config parses and no two share a unique id.
    QSet<QString> ids;
    int configs = 0;
    for (const MqttMessage &m : subscriber.messages()) {
        if (!m.topic.startsWith("homeassistant/") || !m.topic.endsWith("/config"))
            continue;
        const QJsonObject config = QJsonDocument::fromJson(m.payload).object();
        QVERIFY2(!config.isEmpty(), qPrintable(m.topic));
        const QString id = config.value("unique_id").toString();
        QVERIFY2(!id.isEmpty() && !ids.contains(id), qPrintable(id));
        ids.insert(id);
        ++configs;
    }
    QVERIFY(configs >= 4 * 3); // each unit: two input boards' alarm and fault, and the case

    subscriber.clear();
    site.hall.unit(1).modify([](UnitState &s) { s.status[0] = StatusAlarm; });
    QVERIFY(subscriber.waitFor([](const QList<MqttMessage> &all) {
        for (const MqttMessage &m : all)
            if (m.topic == "vertal/hall/2/event")
                return true;
        return false;
    }, changeMs));
    const QJsonObject event = lastJson(subscriber, topicOf("hall", 2, "event"));
    QCOMPARE(event.value("position").toInt(), 1);
    QCOMPARE(event.value("from").toString(), QString("normal"));
    QCOMPARE(event.value("to").toString(), QString("alarm"));
    QVERIFY(event.value("time").toString().endsWith('Z'));
    QTRY_COMPARE_WITH_TIMEOUT(boardStatus(lastJson(subscriber, topicOf("hall", 2, "state")), 1),
                              QString("alarm"), changeMs);
    // No event for the units that did not change, and no state again for an unchanged cycle.
    QVERIFY(site.waitPolls(1, 3));
    QVERIFY(subscriber.messagesOn(topicOf("hall", 1, "event")).isEmpty());
    QVERIFY(subscriber.messagesOn(topicOf("hall", 1, "state")).isEmpty());
    QCOMPARE(subscriber.messagesOn(topicOf("hall", 2, "event")).size(), 1);

    QVERIFY(signalAndWait(site.monitor, SIGTERM) >= 0);
    QCOMPARE(site.monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(site.monitor.exitCode(), 0);
    QVERIFY(subscriber.waitForPayload("vertal/bridge/state", "offline", changeMs));
    // The ports are released: the hall line opens again for another program.
    const CliRun find = runCli({"find", "--port", site.hall.path(), "--address", "1"});
    QCOMPARE(find.exitCode, 0);
}

// The broker away for 10 s while an alarm comes and goes on a unit: when it is back, every
// event arrives once and in order, and the retained state is the unit's own.
void TestMonitor::eventsOutliveTheBroker()
{
    Site site;
    QVERIFY(site.start());
    // The subscriber has an account of its own, so it can be let in before the monitor.
    MqttWatcher subscriber(site.broker.port(), {"vertal/#"}, "watcher", "watcher-secret");
    QVERIFY(subscriber.start());
    QVERIFY(site.waitAllOnline(subscriber));

    site.broker.kill();
    QElapsedTimer away;
    away.start();
    const QList<quint8> steps{StatusAlarm, 0, StatusFault, StatusAlarm | StatusFault, 0};
    for (const quint8 status : steps) {
        site.hall.unit(2).modify([status](UnitState &s) { s.status[0] = status; });
        QVERIFY(site.waitPolls(5, 2)); // the monitor has seen it
    }
    // The broker stays away 10 s in all: the time passing is the outage under test.
    QTest::qWait(int(std::max<qint64>(0, 10000 - away.elapsed())));
    subscriber.clear();
    // Back, first for the subscriber only: the monitor's queued events must find it listening.
    QVERIFY(site.broker.setAllowAnonymous(false));
    QVERIFY(site.broker.restart());
    QVERIFY(subscriber.waitSubscribed(startMs));
    QVERIFY(site.broker.setAllowAnonymous(true));

    const QStringList expected{"normal>alarm", "alarm>normal", "normal>fault", "fault>alarm",
                               "alarm>normal"};
    QStringList seen;
    QVERIFY2(subscriber.waitFor([&](const QList<MqttMessage> &) {
        seen.clear();
        for (const MqttMessage &m : subscriber.messagesOn(topicOf("hall", 5, "event"))) {
            const QJsonObject e = QJsonDocument::fromJson(m.payload).object();
            seen << e.value("from").toString() + '>' + e.value("to").toString();
        }
        return seen.size() >= expected.size();
    }, 60000), qPrintable(seen.join(' ')));
    QCOMPARE(seen, expected);
    QVERIFY(subscriber.waitForPayload("vertal/hall/5/availability", "online", changeMs));
    QCOMPARE(boardStatus(lastJson(subscriber, topicOf("hall", 5, "state")), 1), QString("normal"));
}

// A monitor that dies without a word leaves its will: the bridge reads "offline".
void TestMonitor::killedMonitorReadsOffline()
{
    Site site;
    QVERIFY(site.start());
    MqttWatcher subscriber(site.broker.port(), {"vertal/bridge/state"});
    QVERIFY(subscriber.start());
    QVERIFY(subscriber.waitForPayload("vertal/bridge/state", "online", startMs));
    ::kill(pid_t(site.monitor.processId()), SIGKILL);
    QVERIFY(site.monitor.waitForFinished(10000));
    QVERIFY(subscriber.waitForPayload("vertal/bridge/state", "offline", changeMs));
}

// SIGHUP: a configuration with a fault is said and the running one kept; one without the
// annex line leaves that line's unit offline while the hall's are still watched.
void TestMonitor::hangUpReadsTheConfigurationAgain()
{
    Site site;
    QVERIFY(site.start());
    MqttWatcher subscriber(site.broker.port(), {"vertal/#"});
    QVERIFY(subscriber.start());
    QVERIFY(site.waitAllOnline(subscriber));

    QJsonObject faulty = site.config(false);
    faulty.insert("poll_ms", 5);
    QVERIFY(site.writeConfig(faulty));
    ::kill(pid_t(site.monitor.processId()), SIGHUP);
    QVERIFY(site.notify.waitFor("RELOADING=1", changeMs));
    QVERIFY(site.waitPolls(1, 2));
    QCOMPARE(site.monitor.state(), QProcess::Running);

    QJsonObject hallOnly = site.config(false);
    hallOnly.insert("lines", QJsonArray{hallOnly.value("lines").toArray().first()});
    QVERIFY(site.writeConfig(hallOnly));
    subscriber.clear();
    ::kill(pid_t(site.monitor.processId()), SIGHUP);
    QVERIFY(subscriber.waitForPayload("vertal/annex/3/availability", "offline", changeMs));
    site.hall.unit(0).modify([](UnitState &s) { s.status[2] = StatusFault; });
    QTRY_COMPARE_WITH_TIMEOUT(boardStatus(lastJson(subscriber, topicOf("hall", 1, "state")), 3),
                              QString("fault"), startMs);
    QCOMPARE(site.monitor.state(), QProcess::Running);
}

void TestMonitor::commands_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QByteArray>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("sent");  // the command code the unit must receive, 0 none
    QTest::addColumn<bool>("ok");   // the response (with commands on)
    QTest::newRow("off: a switch sends nothing")
        << false << QByteArray("vertal/hall/2/relay/2/switch") << QByteArray("") << 0 << false;
    QTest::newRow("switch") << true << QByteArray("vertal/hall/2/relay/2/switch") << QByteArray("")
                            << int(CMD_SWITCH_RELE) << true;
    QTest::newRow("set") << true << QByteArray("vertal/hall/2/input/1/set")
                         << QByteArray(R"({"relay":2,"time":30,"period":5})")
                         << int(CMD_SET_ALARM_RELE) << true;
    QTest::newRow("set breaking a rule")
        << true << QByteArray("vertal/hall/2/input/1/set")
        << QByteArray(R"({"relay":2,"time":5,"period":30})") << 0 << false;
    QTest::newRow("not JSON") << true << QByteArray("vertal/hall/2/input/1/set")
                              << QByteArray("relay 2") << 0 << false;
    QTest::newRow("a board that is no relay")
        << true << QByteArray("vertal/hall/2/relay/1/switch") << QByteArray("") << 0 << false;
}

// Commands reach the unit only when the configuration allows them, and a payload that does
// not parse or breaks a rule sends nothing; the response says which.
void TestMonitor::commands()
{
    QFETCH(bool, enabled);
    QFETCH(QByteArray, topic);
    QFETCH(QByteArray, payload);
    QFETCH(int, sent);
    QFETCH(bool, ok);
    Site site;
    QVERIFY(site.start(enabled));
    MqttWatcher subscriber(site.broker.port(), {"vertal/hall/2/response"});
    QVERIFY(subscriber.start());
    MqttWatcher states(site.broker.port(), {"vertal/hall/2/availability"});
    QVERIFY(states.start());
    QVERIFY(states.waitForPayload("vertal/hall/2/availability", "online", startMs));
    site.hall.server->clearReceivedFrames();

    QProcess publish;
    publish.start("mosquitto_pub", {"-p", QString::number(site.broker.port()), "-t",
                                    QString::fromUtf8(topic), "-m", QString::fromUtf8(payload),
                                    "-q", "1"});
    QVERIFY(publish.waitForFinished(10000));
    QCOMPARE(publish.exitCode(), 0);

    if (enabled) {
        QVERIFY(subscriber.waitFor([](const QList<MqttMessage> &all) { return !all.isEmpty(); },
                                   changeMs));
        const QJsonObject response =
            QJsonDocument::fromJson(subscriber.messages().last().payload).object();
        QCOMPARE(response.value("topic").toString(), QString::fromUtf8(topic));
        QCOMPARE(response.value("ok").toBool(), ok);
        QCOMPARE(response.contains("error"), !ok);
    } else {
        QVERIFY(site.waitPolls(2, 3)); // cycles enough for a command to have been run
    }
    int writes = 0, expected = 0;
    for (const ReceivedFrame &frame : site.hall.server->receivedFrames()) {
        const int code = command::replyByte(frame.payload, 1);
        if (code == CMD_SWITCH_RELE || code == CMD_SET_ALARM_RELE || code == CMD_SET_BOARD_TYPE)
            ++writes;
        if (sent != 0 && code == sent)
            ++expected;
    }
    QCOMPARE(writes, sent ? expected : 0);
    QVERIFY(sent == 0 || expected >= 1);
    if (sent == CMD_SWITCH_RELE)
        QVERIFY(site.hall.unit(1).state().relayOn[1]);
    if (sent == CMD_SET_ALARM_RELE)
        QCOMPARE(int(site.hall.unit(1).state().alarmRelay[0].relay), 2);
}

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
