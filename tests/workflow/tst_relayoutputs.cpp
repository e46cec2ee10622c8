// The relay group against the simulated unit: writing the alarm relay of the selected
// input board, switching a relay by hand, and when "Установить" is enabled. Every write is
// checked by reading the unit's state back.

#include "commandcodes.h"
#include "unitbench.h"
#include "workflowchecks.h"

#include <QLineEdit>
#include <QTest>

class TestRelayOutputs : public QObject
{
    Q_OBJECT
private slots:
    void setRele_data();
    void setRele();
    void switchRele();
    void typedRelayNumber();
    void typedRelayOutOfRange_data();
    void typedRelayOutOfRange();
    void setReleEnabling();
    void writeFails();
};

namespace {

// Input boards 1 and 3, relay boards 2 and 4 (map 0x99).
UnitState twoRelayUnit()
{
    UnitState state = UnitBench::defaultUnit();
    state.boardMap = 0x99;
    return state;
}

} // namespace

void TestRelayOutputs::setRele_data()
{
    QTest::addColumn<int>("board");      // index in `input`: 0 board 1, 1 board 3
    QTest::addColumn<int>("relayIndex"); // index in `output`
    QTest::addColumn<int>("onTime");
    QTest::addColumn<int>("period");
    QTest::addColumn<QByteArray>("sent"); // empty: refused with the message
    QTest::newRow("on-time 0: no check")
        << 0 << 1 << 0 << 120 << QByteArray::fromHex("012D0102 00007800");
    QTest::newRow("10 s / 5 s") << 0 << 2 << 10 << 5 << QByteArray::fromHex("012D0104 0A000500");
    QTest::newRow("300 s / 120 s, 16-bit low first")
        << 1 << 1 << 300 << 120 << QByteArray::fromHex("012D0302 2C017800");
    QTest::newRow("no relay") << 0 << 0 << 30 << 20 << QByteArray::fromHex("012D0100 1E001400");
    QTest::newRow("10 s / 10 s refused") << 0 << 1 << 10 << 10 << QByteArray();
    QTest::newRow("10 s / 20 s refused") << 0 << 1 << 10 << 20 << QByteArray();
}

void TestRelayOutputs::setRele()
{
    QFETCH(int, board);
    QFETCH(int, relayIndex);
    QFETCH(int, onTime);
    QFETCH(int, period);
    QFETCH(QByteArray, sent);
    UnitState state = twoRelayUnit();
    state.alarmRelay[0] = state.alarmRelay[2] = {4, 1, 1};
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(1));
    bench.control<QComboBox>("input")->setCurrentIndex(board);
    bench.control<QComboBox>("output")->setCurrentIndex(relayIndex);
    bench.control<QSpinBox>("a_time")->setValue(onTime);
    bench.control<QSpinBox>("a_period")->setValue(period);
    bench.clearRequests();
    QVERIFY(bench.control<QPushButton>("set_rele")->isEnabled());
    bench.click("set_rele");
    QVERIFY(!bench.control<QPushButton>("set_rele")->isEnabled());
    QVERIFY(bench.window->isPolling());

    const QList<QByteArray> writes = bench.requestsFor(CMD_SET_ALARM_RELE);
    if (sent.isEmpty()) {
        QCOMPARE(bench.watcher.texts(), QStringList{"Время меньше или равно периоду !"});
        QVERIFY(writes.isEmpty());
        QCOMPARE(bench.unit.state().alarmRelay[board * 2].relay, quint8(4));
        return;
    }
    QVERIFY(bench.watcher.boxes().isEmpty());
    QCOMPARE(writes, QList<QByteArray>{sent});
    const UnitState::AlarmRelay stored = bench.unit.state().alarmRelay[board * 2];
    QCOMPARE(int(stored.relay), relayIndex == 0 ? 0 : relayIndex * 2);
    QCOMPARE(int(stored.onTime), onTime);
    QCOMPARE(int(stored.period), period);
}

void TestRelayOutputs::switchRele()
{
    UnitBench bench(twoRelayUnit());
    QVERIFY(bench.connectUnit(1));
    auto *output = bench.control<QComboBox>("output");

    output->setCurrentIndex(0);
    bench.clearRequests();
    bench.click("reset_rele");
    QCOMPARE(bench.watcher.texts(), QStringList{"Установите номер реле!"});
    QVERIFY(bench.requestsFor(CMD_SWITCH_RELE).isEmpty());

    output->setCurrentIndex(1);
    bench.click("reset_rele");
    QCOMPARE(bench.requestsFor(CMD_SWITCH_RELE), QList<QByteArray>{QByteArray::fromHex("012E02")});
    QCOMPARE(bench.unit.state().relayOn, (std::array<bool, 4>{false, true, false, false}));
    bench.click("reset_rele");
    QCOMPARE(bench.unit.state().relayOn, (std::array<bool, 4>{false, false, false, false}));
    QVERIFY(bench.window->isPolling());
    QCOMPARE(bench.watcher.boxes().size(), 1);
}

// Relay board 2 selected and 4 typed into the edit field without confirming it: the
// switch takes the typed number, the assignment the selected item.
void TestRelayOutputs::typedRelayNumber()
{
    UnitBench bench(twoRelayUnit());
    QVERIFY(bench.connectUnit(1));
    auto *output = bench.control<QComboBox>("output");
    QVERIFY(output->isEditable());
    output->setCurrentIndex(1);
    output->lineEdit()->selectAll();
    QTest::keyClicks(output->lineEdit(), "4");
    QCOMPARE(output->currentIndex(), 1);
    QCOMPARE(output->currentText(), QStringLiteral("4"));
    bench.clearRequests();

    bench.click("reset_rele");
    QCOMPARE(bench.requestsFor(CMD_SWITCH_RELE), QList<QByteArray>{QByteArray::fromHex("012E04")});
    QCOMPARE(bench.unit.state().relayOn, (std::array<bool, 4>{false, false, false, true}));

    bench.control<QSpinBox>("a_time")->setValue(0);
    QVERIFY(bench.control<QPushButton>("set_rele")->isEnabled());
    bench.click("set_rele");
    QCOMPARE(quint8(bench.requestsFor(CMD_SET_ALARM_RELE).first().at(3)), quint8(2));
    QCOMPARE(bench.unit.state().alarmRelay[0].relay, quint8(2));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

void TestRelayOutputs::typedRelayOutOfRange_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("confirmed"); // Enter pressed: the text joins the list, current
    for (const char *typed : {"0", "5", "300", "-1", "x", ""}) {
        QTest::addRow("\"%s\"", typed) << QString::fromLatin1(typed) << false;
        QTest::addRow("\"%s\", Enter", typed) << QString::fromLatin1(typed) << true;
    }
}

// A typed relay number outside 1..4 never reaches the unit: "Переключить" takes the typed
// text, "Установить" a confirmed one; both refuse with "Установите номер реле!". The
// unit's frame log shows no relay number but 1..4.
void TestRelayOutputs::typedRelayOutOfRange()
{
    QFETCH(QString, typed);
    QFETCH(bool, confirmed);
    UnitBench bench(twoRelayUnit());
    QVERIFY(bench.connectUnit(1));
    auto *output = bench.control<QComboBox>("output");
    output->setCurrentIndex(1);
    QTest::keyClick(output->lineEdit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(output->lineEdit(), Qt::Key_Backspace);
    QTest::keyClicks(output->lineEdit(), typed);
    if (confirmed)
        QTest::keyClick(output->lineEdit(), Qt::Key_Return);
    bench.clearRequests();

    bench.click("reset_rele");
    bench.control<QSpinBox>("a_time")->setValue(0);
    bench.click("set_rele");

    // An empty text never joins the list: "Установить" then takes the selected relay 2.
    const bool itemTyped = confirmed && !typed.isEmpty();
    QCOMPARE(bench.watcher.texts(),
             QStringList(itemTyped ? 2 : 1, QStringLiteral("Установите номер реле!")));
    QVERIFY(bench.requestsFor(CMD_SWITCH_RELE).isEmpty());
    const QList<QByteArray> writes = bench.requestsFor(CMD_SET_ALARM_RELE);
    QCOMPARE(writes.size(), itemTyped ? 0 : 1);
    for (const QByteArray &write : writes)
        QCOMPARE(quint8(write.at(3)), quint8(2));
    QVERIFY(bench.window->isPolling());
}

// Disabled after the search, enabled by an edit, disabled by a write until the next edit.
void TestRelayOutputs::setReleEnabling()
{
    UnitBench bench(twoRelayUnit());
    QVERIFY(bench.connectUnit(1));
    auto *setRele = bench.control<QPushButton>("set_rele");
    auto *period = bench.control<QSpinBox>("a_period");
    QVERIFY(!setRele->isEnabled());
    bench.click("set_rele"); // disabled: nothing happens
    QVERIFY(bench.requestsFor(CMD_SET_ALARM_RELE).isEmpty());

    period->stepUp();
    QVERIFY(setRele->isEnabled());
    bench.click("set_rele");
    QCOMPARE(bench.requestsFor(CMD_SET_ALARM_RELE).size(), 1);
    QVERIFY(!setRele->isEnabled());

    period->stepUp();
    period->stepDown();
    QVERIFY(setRele->isEnabled());
    bench.control<QComboBox>("output")->setCurrentIndex(0);
    bench.click("set_rele");
    QVERIFY(!setRele->isEnabled());
    bench.control<QComboBox>("output")->setCurrentIndex(2);
    QVERIFY(setRele->isEnabled());
    bench.control<QComboBox>("input")->setCurrentIndex(1);
    QVERIFY(!setRele->isEnabled());
    QVERIFY(bench.watcher.boxes().isEmpty());
}

// A failed write: "Ошибка обмена !", idle, the spins keep their values.
void TestRelayOutputs::writeFails()
{
    UnitBench bench(twoRelayUnit());
    QVERIFY(bench.connectUnit(1));
    bench.control<QSpinBox>("a_time")->setValue(0);
    bench.control<QSpinBox>("a_period")->setValue(17);
    bench.server.injectFault(Fault::of(FaultKind::BadLowDigit, true));
    bench.click("set_rele");
    QCOMPARE(bench.watcher.texts(), QStringList{"Ошибка обмена !"});
    QVERIFY(looksIdle(bench));
    QCOMPARE(bench.control<QSpinBox>("a_period")->value(), 17);
    QVERIFY(!bench.control<QSpinBox>("a_period")->isEnabled());
}

QTEST_MAIN(TestRelayOutputs)
#include "tst_relayoutputs.moc"
