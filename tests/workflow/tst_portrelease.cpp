// The port belongs to the window only while it is connected: "Стоп", a failed exchange and
// an unplugged line give it back at once, for other programs to open; "Стоп" then "Старт"
// while a status tick waits for a unit that does not answer starts the new search at once,
// with nothing of the old connection on the line after it.

#include "commandcodes.h"
#include "commandset.h"
#include "serialport.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QSpinBox>
#include <QTest>
#include <cstdio>

class TestPortRelease : public QObject
{
    Q_OBJECT
private slots:
    void releasedWhenConnectionEnds_data();
    void releasedWhenConnectionEnds();
    void stopThenStartDuringSilentTick();
};

namespace {

// The copies of the old connection's status request (address 1) the unit has received.
int oldTickCopies(const UnitBench &bench)
{
    int copies = 0;
    for (const QByteArray &payload : bench.requests())
        copies += payload.startsWith(QByteArray::fromHex("0104"));
    return copies;
}

// Notes when the search's progress dialog is first shown, and how many copies the old
// tick had sent by then.
class ProgressSpy : public QObject
{
public:
    QElapsedTimer *clock = nullptr;
    const UnitBench *bench = nullptr;
    qint64 shownAtMs = -1;
    int copiesAtShow = -1;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && shownAtMs < 0 &&
            qobject_cast<QProgressDialog *>(watched)) {
            shownAtMs = clock->elapsed();
            copiesAtShow = oldTickCopies(*bench);
        }
        return false;
    }
};

} // namespace

void TestPortRelease::releasedWhenConnectionEnds_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("Стоп") << "stop";
    QTest::newRow("a failed tick") << "failure";
    QTest::newRow("the line unplugged") << "unplug";
}

void TestPortRelease::releasedWhenConnectionEnds()
{
    QFETCH(QString, ending);
    UnitBench bench;
    QVERIFY(bench.isReady());
    const QString device = bench.server.devicePath();
    QVERIFY(bench.connectUnit(1));
    QVERIFY(bench.waitForTicks(1));

    // While connected the line is claimed: another program is refused.
    SerialPort other;
    QVERIFY(!other.open(device));
    QCOMPARE(other.error(), SerialPort::Busy);

    if (ending == QLatin1String("stop")) {
        bench.click("start");
    } else if (ending == QLatin1String("failure")) {
        bench.server.injectFault(Fault::of(FaultKind::OddLength));
    } else {
        bench.server.unplug();
    }
    if (ending != QLatin1String("stop"))
        QVERIFY(bench.watcher.waitForBoxes(1, 5000));
    QVERIFY(bench.waitUntil([&] { return looksIdle(bench); }));
    QCOMPARE(bench.watcher.texts(),
             ending == QLatin1String("stop") ? QStringList() : QStringList{"Ошибка обмена !"});
    QVERIFY(!bench.window->primaryWorker());
    QVERIFY(!bench.window->pollWorker());
    QCOMPARE(openDescriptorsOn(device), 0);

    // Another program opens the line (after an unplug: the one plugged in again).
    const QString now = ending == QLatin1String("unplug") ? bench.server.replug() : device;
    QVERIFY(!now.isEmpty());
    QVERIFY2(other.open(now), qPrintable(other.lastErrorString()));
    other.close();

    // The next search opens it again.
    if (ending == QLatin1String("unplug")) {
        bench.control<QComboBox>("com_port")->addItem(now);
        bench.control<QComboBox>("com_port")->setCurrentIndex(1);
    }
    bench.watcher.clear();
    QVERIFY(bench.connectUnit(1));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

// The unit stops answering the connection's address, so a tick waits out its attempts;
// "Стоп", then "Старт" searching at address 0 (which the unit still answers). The old
// tick's frames go to address 1, the new search's to 0 and then to the unit's new address.
void TestPortRelease::stopThenStartDuringSilentTick()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    QVERIFY(bench.waitForTicks(1));
    bench.unit.modify([](UnitState &s) { s.address = 7; });
    bench.clearRequests();

    QElapsedTimer clock;
    ProgressSpy spy;
    spy.clock = &clock;
    spy.bench = &bench;
    qApp->installEventFilter(&spy);
    qint64 startPressedMs = -1;
    int copiesAtStop = -1;
    bool acted = false;
    bench.when(
        [&] { return bench.pollExchanging() && bench.requestsFor(CMD_READ_STATUS).size() >= 2; },
        [&] {
            clock.start();
            copiesAtStop = oldTickCopies(bench);
            bench.click("start"); // Стоп
            bench.control<QSpinBox>("addr")->setValue(0);
            startPressedMs = clock.elapsed();
            bench.click("start"); // Старт, inside the old tick's wait
            acted = true;
        });
    QVERIFY(bench.waitUntil([&] { return acted; }, 10000));
    qApp->removeEventFilter(&spy);
    std::printf("stop+start to progress dialog: %lld ms (Стоп handled in %lld ms)\n",
                static_cast<long long>(spy.shownAtMs), static_cast<long long>(startPressedMs));
    std::fflush(stdout);
    QVERIFY(spy.shownAtMs >= 0);
    // Shown before the old tick's next copy (one may have been on its way as Стоп came):
    // waiting out the old tick's attempts took seconds, a copy every 315 ms.
    QVERIFY2(spy.copiesAtShow <= copiesAtStop + 1,
             qPrintable(QStringLiteral("%1 > %2 + 1").arg(spy.copiesAtShow).arg(copiesAtStop)));
    QVERIFY(bench.watcher.boxes().isEmpty());
    QCOMPARE(bench.startText(), QStringLiteral("Стоп"));
    QVERIFY(bench.waitForTicks(1));
    QCOMPARE(bench.stateText(), QStringLiteral("Норма"));

    // No frame of the old connection (status requests to address 1) once the new search
    // has sent its first.
    const QList<QByteArray> frames = bench.requests();
    const qsizetype searchBegan = frames.indexOf(command::readBoards(0));
    QVERIFY(searchBegan >= 0);
    int oldAfter = 0;
    for (qsizetype i = searchBegan; i < frames.size(); ++i) {
        if (frames.at(i).startsWith(QByteArray::fromHex("0104")))
            ++oldAfter;
    }
    QCOMPARE(oldAfter, 0);
    QCOMPARE(bench.server.interleavedFrames(), 0);
}

QTEST_MAIN(TestPortRelease)
#include "tst_portrelease.moc"
