// The status poll against the simulated unit: the looks of the status field, the re-read
// of the unit after its case was closed again, and a failed tick.

#include "commandcodes.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

class TestStatusPoll : public QObject
{
    Q_OBJECT
private slots:
    void looks();
    void tamperReload();
    void tamperReloadOnMultiDropLine();
    void reloadWithoutInputBoards();
    void failedTick();
    void stopWhileThePollStarts();
    void tamperSeenOutlivesFailure();
};

namespace {

QColor background(const UnitBench &bench)
{
    return bench.control<QLabel>("state")->palette().color(QPalette::Window);
}

QColor textColour(const UnitBench &bench)
{
    return bench.control<QLabel>("state")->palette().color(QPalette::WindowText);
}

void setStatus(UnitBench &bench, int position, quint8 status)
{
    bench.unit.modify([&](UnitState &s) { s.status[position - 1] = status; });
}

} // namespace

// One connection, the status of input board 1 stepped through a table.
void TestStatusPoll::looks()
{
    struct Row
    {
        quint8 status;
        const char *text;
        Qt::GlobalColor colour;
    };
    const Row rows[] = {
        {0x00, "Норма", Qt::green},          {0x01, "Тревога", Qt::red},
        {0x02, "Неисправность", Qt::yellow}, {0x03, "Тревога", Qt::red},
        {0xEC, "Норма", Qt::green},          {0x11, "Тревога", Qt::red},
        {0x12, "Неисправность", Qt::yellow},
    };
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    for (const Row &row : rows) {
        setStatus(bench, 1, row.status);
        bench.clearRequests();
        QVERIFY(bench.waitForTicks(1));
        const QString tag = QString::number(row.status, 16);
        QVERIFY2(bench.stateText() == QString::fromUtf8(row.text),
                 qPrintable(tag + " " + bench.stateText()));
        QVERIFY2(background(bench) == QColor(row.colour), qPrintable(tag));
        QVERIFY2(textColour(bench) == QColor(Qt::black), qPrintable(tag));
        QCOMPARE(bench.requestsFor(CMD_READ_STATUS).first(), QByteArray::fromHex("010401"));
    }
    QVERIFY(bench.watcher.boxes().isEmpty());
}

// Case opened: "Норма" while the tamper bit is set. Meanwhile the unit is changed behind the
// window's back: another board map, address and version. Case closed: that tick paints
// nothing, waits for the unit to settle and re-reads it through the primary worker. The
// search asked for the unit's address (0 given): so does the re-read.
void TestStatusPoll::tamperReload()
{
    UnitState state = UnitBench::defaultUnit();
    state.alarmRelay[0] = {2, 30, 5};
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(0));
    QCOMPARE(bench.control<QSpinBox>("addr")->value(), 1);

    setCaseOpen(bench, true);
    bench.clearRequests();
    QVERIFY(bench.waitForTicks(2));
    QCOMPARE(bench.stateText(), QStringLiteral("Норма"));
    QVERIFY(bench.requestsFor(CMD_READ_BOARDS).isEmpty());

    bench.unit.modify([](UnitState &s) {
        s.boardMap = 0x29; // position 3 now holds a relay board
        s.versionMajor = 3;
        s.versionMinor = 1;
        s.alarmRelay[0] = {3, 40, 6};
        s.caseOpen = false;
    });
    bench.clearRequests();
    // The unit takes another address once it has told its boards (answers come late
    // enough for that to happen between two requests).
    bench.server.injectFault(Fault::delay(200, true));
    bench.when([&] { return !bench.requestsFor(CMD_READ_BOARDS).isEmpty(); },
               [&] { bench.unit.modify([](UnitState &s) { s.address = 9; }); });
    QString stateDuringReload;
    bench.when([&] { return !bench.requestsFor(CMD_READ_ALARM_RELE).isEmpty(); },
               [&] { stateDuringReload = bench.stateText(); });
    QElapsedTimer sinceClosed;
    sinceClosed.start();
    QVERIFY(bench.waitForRequest(CMD_READ_ALARM_RELE, 5000));
    QVERIFY(sinceClosed.elapsed() >= 700); // the settle wait came first
    QVERIFY(bench.waitUntil([&] { return bench.window->isPolling(); }));

    // The tick that saw the case closed, then the whole unit, the new address from then on.
    const QList<QByteArray> requests = bench.requests();
    QCOMPARE(requests.mid(1, 4),
             (QList<QByteArray>{QByteArray::fromHex("0105"), QByteArray::fromHex("0020"),
                                QByteArray::fromHex("0926"), QByteArray::fromHex("090B01")}));
    QCOMPARE(stateDuringReload, QStringLiteral("  "));
    QCOMPARE(bench.control<QSpinBox>("addr")->value(), 9);
    QCOMPARE(bench.control<QLabel>("version")->text(), QStringLiteral("Версия прошивки : 3.1"));
    QCOMPARE(itemsOf(bench.control<QComboBox>("input")), QStringList{"1"});
    QCOMPARE(itemsOf(bench.control<QComboBox>("output")), (QStringList{"Не задано", "2", "3"}));
    QCOMPARE(bench.control<QComboBox>("output")->currentText(), QStringLiteral("3"));
    QCOMPARE(bench.control<QSpinBox>("a_time")->value(), 40);
    QCOMPARE(bench.control<QSpinBox>("a_period")->value(), 6);
    // Refilling `output` enabled "Установить", and the reload leaves it so.
    QVERIFY(bench.control<QPushButton>("set_rele")->isEnabled());

    bench.server.clearFault();
    bench.clearRequests();
    QVERIFY(bench.waitForTicks(1));
    QCOMPARE(bench.requestsFor(CMD_READ_STATUS).first(), QByteArray::fromHex("090401"));
    QCOMPARE(bench.stateText(), QStringLiteral("Норма"));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

// Units at 1, 2 and 5 on one line, the window connected to 2: the re-read after a tamper
// keeps to address 2. Asking address 0 would have all three answer at once.
void TestStatusPoll::tamperReloadOnMultiDropLine()
{
    auto unitAt = [](int address) {
        UnitState state = UnitBench::defaultUnit();
        state.address = quint8(address);
        return state;
    };
    UnitBench bench(unitAt(2), QString(), {unitAt(1), unitAt(5)});
    QVERIFY(bench.connectUnit(2));
    QVERIFY(bench.requestsFor(CMD_READ_ADDRESS).isEmpty());
    setCaseOpen(bench, true);
    QVERIFY(bench.waitForTicks(1));

    bench.clearRequests();
    bench.unit.modify([](UnitState &s) {
        s.versionMajor = 3;
        s.caseOpen = false;
    });
    QVERIFY(bench.waitForRequest(CMD_READ_ALARM_RELE, 5000));
    QVERIFY(bench.waitUntil([&] { return bench.window->isPolling(); }));
    QVERIFY(bench.waitForTicks(1));

    QVERIFY(bench.watcher.boxes().isEmpty());
    QCOMPARE(bench.startText(), QStringLiteral("Стоп"));
    QCOMPARE(bench.control<QLabel>("version")->text(), QStringLiteral("Версия прошивки : 3.5"));
    QCOMPARE(bench.control<QSpinBox>("addr")->value(), 2);
    QCOMPARE(bench.window->currentUnitAddress(), 2);
    QVERIFY(!bench.requestsFor(CMD_READ_BOARDS).isEmpty());
    for (const QByteArray &request : bench.requests())
        QCOMPARE(int(quint8(request.at(0))), 2);
}

// The boards were all made relay boards: the window's own message, then the failure
// message, then idle.
void TestStatusPoll::reloadWithoutInputBoards()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    setCaseOpen(bench, true);
    QVERIFY(bench.waitForTicks(1));
    bench.unit.modify([](UnitState &s) {
        s.boardMap = 0xAA;
        s.caseOpen = false;
    });
    QVERIFY(bench.watcher.waitForBoxes(2, 5000));
    QCOMPARE(bench.watcher.texts(),
             (QStringList{"Не обнаружены платы ввода !\nПосле изменения типа плат однократно "
                          "нажмите тампер и\nперезапустите поиск!",
                          "Ошибка обмена !"}));
    for (const ModalWatcher::Box &box : bench.watcher.boxes()) {
        QCOMPARE(box.title, QStringLiteral("ВЕРТАЛ-КП"));
        QCOMPARE(box.standardButtons, int(QMessageBox::Yes));
        QVERIFY(!box.hasDefaultButton);
    }
    QVERIFY(bench.waitUntil([&] { return looksIdle(bench); }));
}

// A malformed reply to a tick fails it at once: "Ошибка обмена !" and idle; the port is
// given back.
void TestStatusPoll::failedTick()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    QVERIFY(bench.waitForTicks(1));
    bench.server.injectFault(Fault::of(FaultKind::OddLength));
    QVERIFY(bench.watcher.waitForBoxes(1, 3000));
    QCOMPARE(bench.watcher.texts(), QStringList{"Ошибка обмена !"});
    QVERIFY(bench.waitUntil([&] { return looksIdle(bench); }));
    QVERIFY(!bench.window->primaryWorker());
    QCOMPARE(openDescriptorsOn(bench.server.devicePath()), 0);
    bench.clearRequests();
    QTest::qWait(700); // the time is the case: past the poll's 500 ms period, nothing is sent
    QVERIFY(bench.requests().isEmpty());
}

// "Стоп" handled while the poll is being started (its start processes events, as every
// operation's end does): the connection stays ended and no poll runs on.
void TestStatusPoll::stopWhileThePollStarts()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.window->stopPoll();
    QMetaObject::invokeMethod(
        bench.window.get(), [&] { bench.click("start"); }, Qt::QueuedConnection);
    bench.window->startPoll();
    QVERIFY(looksIdle(bench));
    QVERIFY(!bench.window->isPolling());
}

// The tamper seen before a failed tick is remembered: after a new search the first tick
// that finds the case closed re-reads the unit.
void TestStatusPoll::tamperSeenOutlivesFailure()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    setCaseOpen(bench, true);
    QVERIFY(bench.waitForTicks(1));
    bench.server.injectFault(Fault::of(FaultKind::OddLength));
    QVERIFY(bench.watcher.waitForBoxes(1, 3000));
    QVERIFY(bench.waitUntil([&] { return looksIdle(bench); }));

    setCaseOpen(bench, false);
    QVERIFY(bench.connectUnit(1));
    bench.clearRequests();
    QVERIFY(bench.waitForRequest(CMD_READ_BOARDS, 5000));
    QVERIFY(bench.waitUntil([&] { return bench.window->isPolling(); }));
    QCOMPARE(bench.requests().first(), QByteArray::fromHex("010401"));
    QCOMPARE(bench.watcher.texts(), QStringList{"Ошибка обмена !"});
}

QTEST_MAIN(TestStatusPoll)
#include "tst_statuspoll.moc"
