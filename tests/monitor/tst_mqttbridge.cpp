// The broker connection and the service manager's link against real peers: Debian's
// Mosquitto started here (plain, TLS, passwords), a subscriber of the test kit, and a
// notify socket made by the test.

#include "childrun.h"
#include "mosquittobroker.h"
#include "mqttbridge.h"
#include "mqttwatcher.h"
#include "notifysocket.h"
#include "systemdlink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMutex>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <syslog.h>

using namespace monitor;

namespace {

constexpr int waitMs = 30000; // a broker's return goes through the bridge's backoff
const QString watcherUser = QStringLiteral("watcher");
const QString watcherPassword = QStringLiteral("watcher-secret");

BrokerSettings settingsFor(const QString &url, quint16 port, const QString &base)
{
    BrokerSettings broker;
    broker.url = url;
    broker.host = url.startsWith(QLatin1String("mqtts")) ? QStringLiteral("localhost")
                                                         : QStringLiteral("127.0.0.1");
    broker.port = port;
    broker.tls = url.startsWith(QLatin1String("mqtts"));
    broker.clientId = QStringLiteral("vertal-test-%1").arg(base);
    broker.baseTopic = base;
    return broker;
}

// What the bridge's callbacks said, read from the test's thread.
struct BridgeLog
{
    QMutex mutex;
    QStringList problems;
    QList<int> dropped;
    QList<std::tuple<QString, QByteArray, bool>> messages;

    void attach(MqttBridge &bridge)
    {
        bridge.onProblem = [this](const QString &reason) {
            QMutexLocker lock(&mutex);
            problems << reason;
        };
        bridge.onDropped = [this](int count) {
            QMutexLocker lock(&mutex);
            dropped << count;
        };
        bridge.onMessage = [this](const QString &topic, const QByteArray &payload, bool kept) {
            QMutexLocker lock(&mutex);
            messages << std::make_tuple(topic, payload, kept);
        };
    }
    QString allProblems()
    {
        QMutexLocker lock(&mutex);
        return problems.join(QLatin1Char('\n'));
    }
    QList<int> drops()
    {
        QMutexLocker lock(&mutex);
        return dropped;
    }
    QList<std::tuple<QString, QByteArray, bool>> received()
    {
        QMutexLocker lock(&mutex);
        return messages;
    }
};

// The numbers of the events that arrived on `topic`, in arrival order.
QList<int> numbersOn(const MqttWatcher &watcher, const QString &topic)
{
    QList<int> numbers;
    for (const MqttMessage &message : watcher.messagesOn(topic))
        numbers << message.payload.toInt();
    return numbers;
}

QList<int> range(int first, int last)
{
    QList<int> numbers;
    for (int i = first; i <= last; ++i)
        numbers << i;
    return numbers;
}

// A broker that lets the test's watcher in before anyone anonymous: the watcher is back and
// subscribed before the bridge may return, so that it sees all the bridge sends then.
MosquittoBroker::Options gatedBroker()
{
    MosquittoBroker::Options options;
    options.users = {{watcherUser, watcherPassword}};
    return options;
}

// Runs in a child: a bridge that connects and then waits to be killed.
int runConnectedBridge(const QStringList &arguments)
{
    const quint16 port = quint16(arguments.value(0).toUInt());
    MqttBridge bridge(settingsFor(QStringLiteral("mqtt://127.0.0.1"), port, arguments.value(1)),
                      {});
    QString error;
    if (!bridge.start(error)) {
        reportToParent(QStringLiteral("error"), error);
        return 1;
    }
    const QDeadlineTimer deadline(waitMs);
    while (!bridge.isConnected() && !deadline.hasExpired())
        QTest::qWait(20);
    reportToParent(QStringLiteral("connected"), bridge.isConnected() ? "1" : "0");
    QTest::qWait(waitMs * 2); // until the parent kills it
    return 0;
}

int runNotifier()
{
    systemd::notifyReady(QStringLiteral("watching 2 lines"));
    systemd::notifyWatchdog();
    systemd::journalMessage(LOG_INFO, QStringLiteral("a line for a person at the terminal"));
    reportToParent(QStringLiteral("watchdogUsec"), QString::number(systemd::watchdogPeriodUsec()));
    return 0;
}

} // namespace

class TestMqttBridge : public QObject
{
    Q_OBJECT

private slots:
    void retainedAndOnlineArrive();
    void brokerRestartKeepsEverything();
    void eventsBeyondTheBoundDropTheOldest();
    void passwords_data();
    void passwords();
    void tls_data();
    void tls();
    void commandsTellRetainedApart();
    void willSaysOfflineWhenKilled();
    void notifySocketHearsReadyAndWatchdog();
};

void TestMqttBridge::retainedAndOnlineArrive()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttBridge bridge(settingsFor(broker.url(), broker.port(), QStringLiteral("first")), {});
    bridge.publishRetained(QStringLiteral("first/hall/1/state"), "{\"address\":1}");
    QString error;
    QVERIFY2(bridge.start(error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(bridge.isConnected(), waitMs);
    QVERIFY(bridge.attempted());

    MqttWatcher watcher(broker.port(), {QStringLiteral("first/#")});
    QVERIFY(watcher.start());
    QVERIFY(watcher.waitForPayload(QStringLiteral("first/bridge/state"), "online", waitMs));
    QVERIFY(
        watcher.waitForPayload(QStringLiteral("first/hall/1/state"), "{\"address\":1}", waitMs));
    QVERIFY(watcher.messagesOn(QStringLiteral("first/hall/1/state")).last().retained);

    // A clean stop leaves "offline" behind.
    bridge.stop();
    QVERIFY(watcher.waitForPayload(QStringLiteral("first/bridge/state"), "offline", waitMs));
}

void TestMqttBridge::brokerRestartKeepsEverything()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(gatedBroker()), qPrintable(broker.errorString()));
    const QString events = QStringLiteral("restart/hall/1/event");
    const QString state = QStringLiteral("restart/hall/1/state");
    MqttBridge bridge(settingsFor(broker.url(), broker.port(), QStringLiteral("restart")), {});
    QString error;
    QVERIFY2(bridge.start(error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(bridge.isConnected(), waitMs);
    MqttWatcher watcher(broker.port(), {QStringLiteral("restart/#")}, watcherUser, watcherPassword);
    QVERIFY(watcher.start());

    bridge.publishRetained(state, "before");
    for (int i = 1; i <= 10; ++i)
        bridge.publishEvent(events, QByteArray::number(i));
    QVERIFY(
        watcher.waitFor([&](auto &) { return numbersOn(watcher, events).size() == 10; }, waitMs));

    // Events the library holds unacknowledged when the broker dies: it sends them again
    // itself after the reconnect, and the bridge must neither repeat nor overtake them.
    broker.pause();
    for (int i = 11; i <= 15; ++i)
        bridge.publishEvent(events, QByteArray::number(i));
    broker.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!bridge.isConnected(), waitMs);
    bridge.publishRetained(state, "while away");
    for (int i = 16; i <= 40; ++i)
        bridge.publishEvent(events, QByteArray::number(i));
    QCOMPARE(bridge.queuedEvents(), 30);

    broker.setAllowAnonymous(false);
    QVERIFY2(broker.restart(), qPrintable(broker.errorString()));
    QVERIFY(watcher.waitSubscribed(waitMs));
    QVERIFY(!bridge.isConnected());
    QVERIFY(broker.setAllowAnonymous(true));
    QTRY_VERIFY_WITH_TIMEOUT(bridge.isConnected(), waitMs);
    for (int i = 41; i <= 50; ++i)
        bridge.publishEvent(events, QByteArray::number(i));

    QVERIFY(
        watcher.waitFor([&](auto &) { return numbersOn(watcher, events).size() >= 50; }, waitMs));
    QCOMPARE(numbersOn(watcher, events), range(1, 50));
    QTRY_COMPARE_WITH_TIMEOUT(bridge.queuedEvents(), 0, waitMs);

    // A newcomer finds the kept messages on the broker that had lost them.
    MqttWatcher newcomer(broker.port(), {QStringLiteral("restart/#")}, watcherUser,
                         watcherPassword);
    QVERIFY(newcomer.start());
    QVERIFY(newcomer.waitForPayload(state, "while away", waitMs));
    QVERIFY(newcomer.waitForPayload(QStringLiteral("restart/bridge/state"), "online", waitMs));
    QVERIFY(newcomer.messagesOn(state).last().retained);
    QVERIFY(newcomer.messagesOn(events).isEmpty());
}

void TestMqttBridge::eventsBeyondTheBoundDropTheOldest()
{
    const int beyond = 25;
    const int total = MqttBridge::eventQueueBound + beyond;
    MosquittoBroker::Options options = gatedBroker();
    options.allowAnonymous = false;
    MosquittoBroker broker;
    QVERIFY2(broker.start(options), qPrintable(broker.errorString()));
    MqttBridge bridge(settingsFor(broker.url(), broker.port(), QStringLiteral("bound")), {});
    BridgeLog log;
    log.attach(bridge);
    QString error;
    QVERIFY2(bridge.start(error), qPrintable(error)); // refused for now: no error
    const QString events = QStringLiteral("bound/hall/2/event");
    for (int i = 1; i <= total; ++i)
        bridge.publishEvent(events, QByteArray::number(i));
    QCOMPARE(bridge.queuedEvents(), MqttBridge::eventQueueBound);
    QTRY_VERIFY_WITH_TIMEOUT(bridge.attempted(), waitMs);

    MqttWatcher watcher(broker.port(), {events}, watcherUser, watcherPassword);
    QVERIFY(watcher.start());
    QVERIFY(broker.setAllowAnonymous(true));
    QElapsedTimer flush;
    flush.start();
    const bool all = watcher.waitFor(
        [&](auto &arrived) { return arrived.size() >= MqttBridge::eventQueueBound; }, waitMs * 2);
    QVERIFY2(all, qPrintable(QStringLiteral("%1 arrived in %2 ms, %3 still queued")
                                 .arg(watcher.messages().size())
                                 .arg(flush.elapsed())
                                 .arg(bridge.queuedEvents())));
    QCOMPARE(numbersOn(watcher, events), range(beyond + 1, total));
    QTRY_VERIFY_WITH_TIMEOUT(!log.drops().isEmpty(), waitMs);
    QCOMPARE(log.drops(), QList<int>{beyond});
}

void TestMqttBridge::passwords_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("connects");
    QTest::newRow("right password") << "monitor"
                                    << "s3cret" << true;
    QTest::newRow("wrong password") << "monitor"
                                    << "guess" << false;
    QTest::newRow("no account") << ""
                                << "" << false;
}

void TestMqttBridge::passwords()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, connects);
    MosquittoBroker::Options options;
    options.users = {{QStringLiteral("monitor"), QStringLiteral("s3cret")}};
    options.allowAnonymous = false;
    MosquittoBroker broker;
    QVERIFY2(broker.start(options), qPrintable(broker.errorString()));
    BrokerSettings settings = settingsFor(broker.url(), broker.port(), QStringLiteral("pw"));
    settings.username = username;
    MqttBridge bridge(settings, password);
    BridgeLog log;
    log.attach(bridge);
    QString error;
    QVERIFY2(bridge.start(error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(bridge.attempted(), waitMs);
    if (connects) {
        QTRY_VERIFY_WITH_TIMEOUT(bridge.isConnected(), waitMs);
        QCOMPARE(log.allProblems(), QString());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(log.allProblems().contains(QLatin1String("not authorised")),
                                 waitMs);
        QVERIFY2(log.allProblems().contains(broker.url()), qPrintable(log.allProblems()));
        QVERIFY(!bridge.isConnected());
    }
}

void TestMqttBridge::tls_data()
{
    QTest::addColumn<QString>("ca"); // "right", "wrong", "missing"
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("problem");
    QTest::newRow("the broker's CA") << "right" << true << "";
    QTest::newRow("another CA") << "wrong" << true << "does not verify";
    QTest::newRow("no such CA file") << "missing" << false << "mqtt.ca_file";
}

void TestMqttBridge::tls()
{
    QFETCH(QString, ca);
    QFETCH(bool, starts);
    QFETCH(QString, problem);
    MosquittoBroker::Options options;
    options.tls = true;
    MosquittoBroker broker;
    QVERIFY2(broker.start(options), qPrintable(broker.errorString()));
    BrokerSettings settings = settingsFor(broker.tlsUrl(), broker.tlsPort(), QStringLiteral("tls"));
    settings.caFile = ca == QLatin1String("right")   ? broker.caPath()
                      : ca == QLatin1String("wrong") ? broker.wrongCaPath()
                                                     : broker.caPath() + QLatin1String(".gone");
    MqttBridge bridge(settings, {});
    BridgeLog log;
    log.attach(bridge);
    QString error;
    QCOMPARE(bridge.start(error), starts);
    if (!starts) {
        QVERIFY2(error.contains(problem), qPrintable(error));
        return;
    }
    if (problem.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(bridge.isConnected(), waitMs);
        MqttWatcher watcher(broker.port(), {QStringLiteral("tls/bridge/state")});
        QVERIFY(watcher.start());
        QVERIFY(watcher.waitForPayload(QStringLiteral("tls/bridge/state"), "online", waitMs));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(log.allProblems().contains(problem), waitMs);
        QVERIFY2(log.allProblems().contains(settings.caFile), qPrintable(log.allProblems()));
        QVERIFY(!bridge.isConnected());
    }
}

void TestMqttBridge::commandsTellRetainedApart()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    const QString kept = QStringLiteral("cmd/hall/1/relay/2/switch");
    const QString now = QStringLiteral("cmd/hall/1/relay/3/switch");
    auto publish = [&](const QString &topic, const QString &payload, bool retain) {
        QProcess client;
        QStringList arguments{"-h", "127.0.0.1", "-p", QString::number(broker.port()),
                              "-q", "1",         "-t", topic,
                              "-m", payload};
        if (retain)
            arguments << "-r";
        client.start(QStringLiteral("mosquitto_pub"), arguments);
        return client.waitForFinished(waitMs) && client.exitCode() == 0;
    };
    QVERIFY(publish(kept, QStringLiteral("left here"), true));

    MqttBridge bridge(settingsFor(broker.url(), broker.port(), QStringLiteral("cmd")), {});
    BridgeLog log;
    log.attach(bridge);
    bridge.subscribe(QStringLiteral("cmd/+/+/relay/+/switch"));
    QString error;
    QVERIFY2(bridge.start(error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(log.received().size(), 1, waitMs);
    QCOMPARE(log.received()[0], std::make_tuple(kept, QByteArray("left here"), true));
    QVERIFY(publish(now, QStringLiteral("sent now"), false));
    QTRY_COMPARE_WITH_TIMEOUT(log.received().size(), 2, waitMs);
    QCOMPARE(log.received()[1], std::make_tuple(now, QByteArray("sent now"), false));
}

void TestMqttBridge::willSaysOfflineWhenKilled()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttWatcher watcher(broker.port(), {QStringLiteral("will/bridge/state")});
    QVERIFY(watcher.start());
    SelfChild child;
    child.start(QStringLiteral("connected-bridge"),
                {QString::number(broker.port()), QStringLiteral("will")});
    QVERIFY2(child.waitFor(QStringLiteral("connected"), QStringLiteral("1"), waitMs),
             qPrintable(child.run().out + child.run().err));
    QVERIFY(watcher.waitForPayload(QStringLiteral("will/bridge/state"), "online", waitMs));
    child.signal(SIGKILL);
    QVERIFY(child.finish(waitMs));
    QVERIFY(watcher.waitForPayload(QStringLiteral("will/bridge/state"), "offline", waitMs));
}

void TestMqttBridge::notifySocketHearsReadyAndWatchdog()
{
    NotifySocket socket;
    QVERIFY(socket.isOpen());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), socket.path());
    environment.remove(QStringLiteral("JOURNAL_STREAM"));
    const ChildRun run = runSelfAsChild(QStringLiteral("notifier"), {}, waitMs, environment);
    QVERIFY2(run.endedWith(0), qPrintable(run.out + run.err));
    QVERIFY(socket.waitFor("READY=1", waitMs));
    QVERIFY(socket.waitFor("STATUS=watching 2 lines", waitMs));
    QVERIFY(socket.waitFor("WATCHDOG=1", waitMs));
    // Not under systemd's watchdog, and a person running it by hand reads its lines.
    QCOMPARE(run.value(QStringLiteral("watchdogUsec")), QStringLiteral("0"));
    QVERIFY2(run.err.contains(QLatin1String("a line for a person at the terminal")),
             qPrintable(run.err));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (childMode() == QLatin1String("connected-bridge"))
        return runConnectedBridge(childArguments(argc, argv));
    if (childMode() == QLatin1String("notifier"))
        return runNotifier();
    TestMqttBridge test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mqttbridge.moc"
