// Picking another input board, and the board type slot, against the simulated unit.

#include "commandcodes.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

class TestInputBoard : public QObject
{
    Q_OBJECT
private slots:
    void change();
    void interfaceLine_data();
    void interfaceLine();
    void changeWhileBusyIsDropped();
    void changeDuringWriteIsDropped();
    void changeFails();
    void boardType();
    void progMarksBusy();
};

// Map 0x19: input boards 1 and 3, relay board 2. Board 3 switches relay 2 for 30 s / 5 s.
void TestInputBoard::change()
{
    UnitState state = UnitBench::defaultUnit();
    state.alarmRelay[2] = {2, 30, 5};
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(1));
    QCOMPARE(bench.control<QComboBox>("output")->currentText(), QStringLiteral("Не задано"));
    bench.clearRequests();

    QTest::ignoreMessage(QtDebugMsg, "Interface 16376");
    bench.control<QComboBox>("input")->setCurrentIndex(1);
    QCOMPARE(bench.requests().first(), QByteArray::fromHex("010B03"));
    QCOMPARE(bench.control<QComboBox>("output")->currentText(), QStringLiteral("2"));
    QCOMPARE(bench.control<QSpinBox>("a_time")->value(), 30);
    QCOMPARE(bench.control<QSpinBox>("a_period")->value(), 5);
    QVERIFY(!bench.control<QPushButton>("set_rele")->isEnabled());
    QCOMPARE(enabledControls(bench), (QStringList{"current_value", "a_time", "a_period", "input",
                                                  "start", "output", "reset_rele"}));
    QVERIFY(bench.window->isPolling());
    // The poll now watches board 3.
    bench.clearRequests();
    QVERIFY(bench.waitForTicks(1));
    QCOMPARE(bench.requestsFor(CMD_READ_STATUS).first(), QByteArray::fromHex("010403"));

    // Back to board 1, which switches no relay: "Не задано", the spins keep their values.
    bench.control<QComboBox>("input")->setCurrentIndex(0);
    QCOMPARE(bench.control<QComboBox>("output")->currentText(), QStringLiteral("Не задано"));
    QCOMPARE(bench.control<QSpinBox>("a_time")->value(), 30);
    QCOMPARE(bench.control<QSpinBox>("a_period")->value(), 5);
    QVERIFY(bench.watcher.boxes().isEmpty());
}

void TestInputBoard::interfaceLine_data()
{
    QTest::addColumn<int>("boardMap");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("input boards only") << 0x05 << QByteArray("Interface 6264");
    QTest::newRow("input and relay boards") << 0x19 << QByteArray("Interface 16376");
}

// The one line on the debug output: "Interface" and the control mask in decimal.
void TestInputBoard::interfaceLine()
{
    QFETCH(int, boardMap);
    QFETCH(QByteArray, line);
    UnitState state = UnitBench::defaultUnit();
    state.boardMap = quint8(boardMap);
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(1));
    QTest::ignoreMessage(QtDebugMsg, line.constData());
    bench.control<QComboBox>("input")->setCurrentIndex(1);
    QCOMPARE(bench.requestsFor(CMD_READ_ALARM_RELE).last(),
             QByteArray::fromHex("010B") +
                 char(bench.control<QComboBox>("input")->currentText().toInt()));
}

// A second pick while the first one's request is in flight is dropped: `input` goes back
// to the board picked first, whose relay the group shows, as the unit holds it.
void TestInputBoard::changeWhileBusyIsDropped()
{
    UnitState state = UnitBench::defaultUnit();
    state.alarmRelay[2] = {2, 30, 5};
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(1));
    bench.clearRequests();
    bench.server.injectFault(Fault::delay(200, true));
    auto *input = bench.control<QComboBox>("input");
    bench.when([&] { return bench.portExchanging(); }, [&] { input->setCurrentIndex(0); });
    input->setCurrentIndex(1);
    QCOMPARE(input->currentText(), QStringLiteral("3"));
    QCOMPARE(bench.requestsFor(CMD_READ_ALARM_RELE),
             QList<QByteArray>{QByteArray::fromHex("010B03")});
    QCOMPARE(bench.control<QComboBox>("output")->currentText(), QStringLiteral("2"));
    QCOMPARE(bench.control<QSpinBox>("a_time")->value(), 30);
    QCOMPARE(bench.control<QSpinBox>("a_period")->value(), 5);
    QVERIFY(bench.watcher.boxes().isEmpty());
    QVERIFY(bench.window->isPolling());
}

// A board picked while "Установить" waits for the unit is not acted on and `input` goes
// back: the window and the unit agree afterwards, and the next write goes to the board
// whose values the relay group shows.
void TestInputBoard::changeDuringWriteIsDropped()
{
    UnitState state = UnitBench::defaultUnit();
    state.alarmRelay[0] = {2, 30, 5};
    state.alarmRelay[2] = {2, 90, 20};
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(1));
    auto *input = bench.control<QComboBox>("input");
    QCOMPARE(input->currentText(), QStringLiteral("1"));
    bench.server.injectFault(Fault::delay(200, true));
    bench.control<QSpinBox>("a_time")->setValue(40);
    bench.clearRequests();
    bench.when([&] { return bench.portExchanging(); }, [&] { input->setCurrentIndex(1); });
    bench.click("set_rele");
    QCOMPARE(input->currentText(), QStringLiteral("1"));
    bench.control<QSpinBox>("a_period")->setValue(6);
    bench.click("set_rele");

    const UnitState unit = bench.unit.state();
    QCOMPARE(int(unit.alarmRelay[0].relay),
             bench.control<QComboBox>("output")->currentText().toInt());
    QCOMPARE(int(unit.alarmRelay[0].onTime), bench.control<QSpinBox>("a_time")->value());
    QCOMPARE(int(unit.alarmRelay[0].period), bench.control<QSpinBox>("a_period")->value());
    QCOMPARE(int(unit.alarmRelay[0].onTime), 40);
    QCOMPARE(int(unit.alarmRelay[0].period), 6);
    QCOMPARE(int(unit.alarmRelay[2].onTime), 90); // board 3 untouched
    QCOMPARE(int(unit.alarmRelay[2].period), 20);
    QVERIFY(bench.requestsFor(CMD_READ_ALARM_RELE).isEmpty());
    QVERIFY(bench.watcher.boxes().isEmpty());
}

void TestInputBoard::changeFails()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.server.injectFault(Fault::of(FaultKind::OddLength, true));
    bench.control<QComboBox>("input")->setCurrentIndex(1);
    QCOMPARE(bench.watcher.texts(), QStringList{"Ошибка обмена !"});
    QVERIFY(looksIdle(bench));
}

// No control is bound to the board type slot; invoked directly it writes the type of the
// selected input board and enables every control but address, port and "Прошивка".
void TestInputBoard::boardType()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.control<QComboBox>("input")->setCurrentIndex(1); // board 3
    bench.clearRequests();
    QVERIFY(QMetaObject::invokeMethod(bench.window.get(), "on_type_currentIndexChanged",
                                      Q_ARG(int, 2)));
    QCOMPARE(bench.requestsFor(CMD_SET_BOARD_TYPE),
             QList<QByteArray>{QByteArray::fromHex("012C0302")});
    QCOMPARE(bench.unit.state().boardKind(3), int(RelayBoard));
    QCOMPARE(enabledControls(bench), (QStringList{"current_value", "a_time", "a_period", "input",
                                                  "start", "output", "reset_rele"}));
    QVERIFY(bench.window->isPolling());
    QVERIFY(bench.watcher.boxes().isEmpty());

    // The unit address, not the address box, goes into this request.
    bench.control<QSpinBox>("addr")->setValue(77);
    bench.clearRequests();
    QVERIFY(QMetaObject::invokeMethod(bench.window.get(), "on_type_currentIndexChanged",
                                      Q_ARG(int, 1)));
    QCOMPARE(bench.requestsFor(CMD_SET_BOARD_TYPE),
             QList<QByteArray>{QByteArray::fromHex("012C0301")});
    QCOMPARE(bench.unit.state().boardKind(3), int(InputBoard));
}

// "Прошивка" cannot be pressed; invoked, its slot only marks the window busy, so that the
// next pick of an input board is ignored.
void TestInputBoard::progMarksBusy()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    QVERIFY(!bench.control<QPushButton>("prog")->isEnabled());
    QVERIFY(QMetaObject::invokeMethod(bench.window.get(), "on_prog_released"));
    bench.clearRequests();
    bench.control<QComboBox>("input")->setCurrentIndex(1);
    QVERIFY(bench.requestsFor(CMD_READ_ALARM_RELE).isEmpty());
}

QTEST_MAIN(TestInputBoard)
#include "tst_inputboard.moc"
