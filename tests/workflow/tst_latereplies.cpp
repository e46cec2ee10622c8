// A slow unit: it answers every copy of a request, later than one attempt listens, so
// replies of one request are still arriving when the next request goes out. The window
// must show only what the unit holds and write only what the operator set: a search with
// address 0 learns the unit's address; the version, boards, assignment, statuses and live
// values shown are the unit's; every write carries the operator's values.
//
// Seeded: VERTAL_SEED replays the random delays.

#include "commandcodes.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QSpinBox>
#include <QTest>
#include <random>

class TestLateReplies : public QObject
{
    Q_OBJECT
private slots:
    void slowUnit_data();
    void slowUnit();
};

namespace {

// Long enough for a 2000 ms unit: each of its exchanges takes about four seconds.
constexpr int stepTimeoutMs = 30000;
constexpr int unitAddress = 7;
constexpr int randomDelayMax = 2000;
constexpr int randomDelayEveryMs = 100;

// Input boards 1 and 3, relay boards 2 and 4 (map 0x99), at address 7, firmware 2.10;
// every figure differs from the others, so that a reply read for another one shows.
UnitState slowUnitState()
{
    UnitState state = UnitBench::defaultUnit();
    state.address = unitAddress;
    state.boardMap = 0x99;
    state.versionMajor = 2;
    state.versionMinor = 10;
    state.status = {0x02, 0, 0x01, 0};
    state.value = {0x1234, 0, 0x0BCD, 0};
    state.alarmRelay[0] = {4, 30, 5};
    state.alarmRelay[2] = {2, 60, 10};
    return state;
}

quint32 seedFromEnvironment()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("VERTAL_SEED").toUInt(&ok);
    return ok ? seed : 11;
}

bool waitLong(const std::function<bool()> &condition)
{
    return UnitBench::waitUntil(condition, stepTimeoutMs);
}

// What the relay group shows: relay item, on-time, period.
QString relayGroup(const UnitBench &bench)
{
    return QStringLiteral("%1 %2 %3")
        .arg(bench.control<QComboBox>("output")->currentText())
        .arg(bench.control<QSpinBox>("a_time")->value())
        .arg(bench.control<QSpinBox>("a_period")->value());
}

// Every request goes to the unit's own address, or to 0 while the search asks for it.
bool requestsAddressed(const UnitBench &bench)
{
    for (const QByteArray &payload : bench.requests()) {
        const int address = quint8(payload.at(0));
        if (address != unitAddress && address != 0)
            return false;
    }
    return true;
}

} // namespace

void TestLateReplies::slowUnit_data()
{
    QTest::addColumn<int>("delayMs"); // -1: random, 0..2000 ms, changing every 100 ms
    QTest::addColumn<bool>("valueDialog");
    QTest::newRow("200 ms") << 200 << false;
    QTest::newRow("400 ms") << 400 << true;
    QTest::newRow("700 ms") << 700 << false;
    QTest::newRow("1000 ms") << 1000 << false;
    QTest::newRow("2000 ms") << 2000 << false;
    QTest::newRow("random 0..2000 ms") << -1 << true;
}

void TestLateReplies::slowUnit()
{
    QFETCH(int, delayMs);
    QFETCH(bool, valueDialog);
    UnitBench bench(slowUnitState());
    QVERIFY(bench.isReady());
    Fault late = Fault::delay(delayMs, true);
    std::mt19937 rng(seedFromEnvironment());
    const auto newDelay = [&] {
        late.delayMs = std::uniform_int_distribution<int>(0, randomDelayMax)(rng);
        bench.server.injectFault(late);
    };
    QTimer changeDelay;
    if (delayMs < 0) {
        qInfo("seed %u (VERTAL_SEED replays it)", seedFromEnvironment());
        newDelay();
        connect(&changeDelay, &QTimer::timeout, newDelay);
        changeDelay.start(randomDelayEveryMs);
    } else {
        bench.server.injectFault(late);
    }

    // The search, address 0: the unit's address, version, boards and board 1's relay.
    QVERIFY(bench.connectUnit(0));
    QCOMPARE(bench.control<QSpinBox>("addr")->value(), unitAddress);
    QCOMPARE(bench.window->currentUnitAddress(), unitAddress);
    QCOMPARE(bench.control<QLabel>("version")->text(), QStringLiteral("Версия прошивки : 2.10"));
    QCOMPARE(itemsOf(bench.control<QComboBox>("input")), (QStringList{"1", "3"}));
    QCOMPARE(itemsOf(bench.control<QComboBox>("output")), (QStringList{"Не задано", "2", "4"}));
    QCOMPARE(relayGroup(bench), QStringLiteral("4 30 5"));
    QVERIFY(waitLong([&] { return bench.stateText() == QStringLiteral("Неисправность"); }));

    // Board 3: its relay and its status.
    bench.control<QComboBox>("input")->setCurrentIndex(1);
    QVERIFY(waitLong([&] { return !bench.portExchanging(); }));
    QCOMPARE(bench.control<QComboBox>("input")->currentText(), QStringLiteral("3"));
    QCOMPARE(relayGroup(bench), QStringLiteral("2 60 10"));
    QVERIFY(waitLong([&] { return bench.stateText() == QStringLiteral("Тревога"); }));

    // A write carries what the operator set, in every copy.
    bench.control<QComboBox>("output")->setCurrentIndex(2);
    bench.control<QSpinBox>("a_time")->setValue(45);
    bench.control<QSpinBox>("a_period")->setValue(9);
    bench.click("set_rele");
    const QList<QByteArray> writes = bench.requestsFor(CMD_SET_ALARM_RELE);
    QVERIFY(!writes.isEmpty());
    for (const QByteArray &write : writes)
        QCOMPARE(write, QByteArray::fromHex("072D0304 2D000900"));
    const UnitState::AlarmRelay stored = bench.unit.state().alarmRelay[2];
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(stored.relay).arg(stored.onTime).arg(stored.period),
             QStringLiteral("4 45 9"));

    // The live value of board 3.
    if (valueDialog) {
        QString shown;
        bench.when([] { return openValueDialog() != nullptr; },
                   [&] {
                       QDialog *dialog = openValueDialog();
                       auto *value = dialog->findChild<QLabel *>(QStringLiteral("value"));
                       waitLong([&] { return value->text() != QStringLiteral("0"); });
                       shown = value->text();
                       dialog->findChild<QAbstractButton *>(QStringLiteral("done"))->click();
                   });
        bench.click("current_value");
        QCOMPARE(shown, QString::number(0x0BCD));
    }

    QVERIFY(waitLong([&] { return bench.window->isPolling() && !bench.portExchanging(); }));
    QCOMPARE(bench.control<QComboBox>("input")->currentText(), QStringLiteral("3"));
    QCOMPARE(relayGroup(bench), QStringLiteral("4 45 9"));
    QVERIFY(waitLong([&] { return bench.stateText() == QStringLiteral("Тревога"); }));
    QVERIFY(requestsAddressed(bench));
    QCOMPARE(bench.watcher.texts(), QStringList());
    QCOMPARE(bench.startText(), QStringLiteral("Стоп"));
}

QTEST_MAIN(TestLateReplies)
#include "tst_latereplies.moc"
