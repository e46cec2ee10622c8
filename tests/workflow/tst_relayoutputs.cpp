// The relay group against the simulated unit: writing the alarm relay of the selected
// input board, switching a relay by hand, and when "Установить" is enabled. Every write is
// checked by reading the unit's state back.

#include "commandcodes.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

class TestRelayOutputs : public QObject
{
    Q_OBJECT
private slots:
    void setRele_data();
    void setRele();
    void switchRele();
    void typedRelay_data();
    void typedRelay();
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

void TestRelayOutputs::typedRelay_data()
{
    QTest::addColumn<int>("boardMap");
    QTest::addColumn<QString>("current"); // the item current before typing
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enter");
    QTest::addColumn<int>("switched"); // relay "Переключить" sends; -1: refused
    QTest::addColumn<int>("assigned"); // relay "Установить" sends; -1: refused
    QTest::addColumn<QString>("shownAfter");

    // Relay boards 2 and 3 (map 0x29): a number no relay board holds is refused whatever
    // item is current, and Enter adds nothing to the list.
    const int map = 0x29;
    const QString none = QStringLiteral("Не задано");
    QTest::newRow("4, Не задано current") << map << none << "4" << false << -1 << -1 << "4";
    QTest::newRow("4, 2 current") << map << "2"
                                  << "4" << false << -1 << -1 << "4";
    QTest::newRow("3, 2 current: 3 taken") << map << "2"
                                           << "3" << false << 3 << 3 << "3";
    QTest::newRow("3, Не задано current") << map << none << "3" << false << 3 << 3 << "3";
    QTest::newRow("3, Enter") << map << "2"
                              << "3" << true << 3 << 3 << "3";
    QTest::newRow(" 2 , 3 current") << map << "3"
                                    << " 2 " << false << 2 << 2 << "2";
    QTest::newRow("Не задано typed: no relay") << map << "2"
                                               << "Не задано" << false << -1 << 0 << "Не задано";
    for (const char *typed : {"7", "abc", "4", "300", "0", "5", "-1", "x", ""}) {
        const QString text = QString::fromUtf8(typed);
        QTest::addRow("\"%s\"", typed) << map << "2" << text << false << -1 << -1 << text;
        QTest::addRow("\"%s\", Enter", typed) << map << "2" << text << true << -1 << -1 << text;
    }
    // Relay boards 2 and 4 (map 0x99): 4 typed over item 2 is relay board 4.
    QTest::newRow("4 over 2, relays 2 and 4") << 0x99 << "2"
                                              << "4" << false << 4 << 4 << "4";
}

// The relay field typed into: both buttons act on what it shows. A typed relay board is
// selected and used; anything else gives "Установите номер реле!" and the unit's frame log
// shows nothing sent. The list keeps "Не задано" and the relay boards found.
void TestRelayOutputs::typedRelay()
{
    QFETCH(int, boardMap);
    QFETCH(QString, current);
    QFETCH(QString, typed);
    QFETCH(bool, enter);
    QFETCH(int, switched);
    QFETCH(int, assigned);
    QFETCH(QString, shownAfter);
    UnitState state = UnitBench::defaultUnit();
    state.boardMap = quint8(boardMap);
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(1));
    auto *output = bench.control<QComboBox>("output");
    const QStringList items = bench.items("output");
    QVERIFY(output->isEditable());
    output->setCurrentIndex(output->findText(current));
    QCOMPARE(output->currentText(), current);
    QTest::keyClick(output->lineEdit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(output->lineEdit(), Qt::Key_Backspace);
    // Key clicks carry Latin-1 only; other text is entered as an input method would.
    if (QString::fromLatin1(typed.toLatin1()) == typed)
        QTest::keyClicks(output->lineEdit(), typed);
    else
        output->lineEdit()->insert(typed);
    if (enter)
        QTest::keyClick(output->lineEdit(), Qt::Key_Return);
    QCOMPARE(bench.items("output"), items);
    bench.clearRequests();

    bench.click("reset_rele");
    QCOMPARE(bench.requestsFor(CMD_SWITCH_RELE),
             switched < 0 ? QList<QByteArray>{}
                          : QList<QByteArray>{QByteArray{"\x01\x2E"} + char(switched)});
    bench.control<QSpinBox>("a_time")->setValue(0);
    bench.control<QSpinBox>("a_period")->setValue(7); // an edit: "Установить" is enabled
    QVERIFY(bench.control<QPushButton>("set_rele")->isEnabled());
    bench.click("set_rele");
    const QList<QByteArray> writes = bench.requestsFor(CMD_SET_ALARM_RELE);
    QCOMPARE(writes.size(), assigned < 0 ? 0 : 1);
    if (assigned >= 0) {
        QCOMPARE(int(quint8(writes.first().at(3))), assigned);
        QCOMPARE(int(bench.unit.state().alarmRelay[0].relay), assigned);
    }

    const int refusals = (switched < 0) + (assigned < 0);
    QCOMPARE(bench.watcher.texts(),
             QStringList(refusals, QStringLiteral("Установите номер реле!")));
    QCOMPARE(output->currentText().trimmed(), shownAfter.trimmed());
    if (switched > 0 || assigned >= 0)
        QCOMPARE(output->itemText(output->currentIndex()), shownAfter.trimmed());
    QCOMPARE(bench.items("output"), items);
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
