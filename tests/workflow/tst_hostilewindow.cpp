// The window on a hostile line: the simulated unit answers with random bytes of random
// length in random chunks, at random moments (during the search, or after it while the
// poll and the operator's writes run). Whatever comes, the window says only its own
// messages, a failed exchange leaves it idle, and it never crashes; once the line is calm
// again it connects as before.
//
// A field line's everyday faults keep the session: a lost frame, a unit that stalls and
// then answers every queued copy at once, glitch bytes before every reply.
//
// Seeded: VERTAL_SEED replays a run, VERTAL_HOSTILE_SECONDS sets its length.
#include "commandcodes.h"
#include "runsettings.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTest>
#include <random>

namespace {

bool busy(const UnitBench &bench)
{
    return bench.portExchanging() || bench.pollExchanging() ||
           QThread::currentThread()->loopLevel() > 1;
}

} // namespace

class TestHostileWindow : public QObject
{
    Q_OBJECT
private slots:
    void hostileLine();
    void lineFaultsKeepTheSession_data();
    void lineFaultsKeepTheSession();
};

void TestHostileWindow::hostileLine()
{
    const quint32 seed = runSeed();
    const int seconds = runSeconds("VERTAL_HOSTILE_SECONDS", 12);
    qInfo("hostile window: seed %u (VERTAL_SEED=%u replays it), %d s", seed, seed, seconds);
    std::mt19937 rng(seed);
    auto pick = [&rng](int low, int high) {
        return std::uniform_int_distribution<>(low, high)(rng);
    };

    UnitBench bench;
    QVERIFY(bench.isReady());
    int rounds = 0, connected = 0, failures = 0;
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000) {
        ++rounds;
        bench.watcher.clear();
        const Fault hostile = Fault::hostile(quint32(rng()), true);
        const bool duringSearch = pick(0, 3) == 0;
        bench.server.clearFault();
        if (duringSearch)
            bench.server.injectFault(hostile);
        bench.control<QSpinBox>("addr")->setValue(1);
        bench.click("start");
        connected += bench.startText() == QStringLiteral("Стоп");
        if (!duringSearch && bench.startText() == QStringLiteral("Стоп")) {
            bench.server.injectFault(hostile);
            switch (pick(0, 3)) { // the operator's writes, or just the poll
            case 0:
                bench.control<QSpinBox>("a_period")->setValue(pick(0, 5));
                bench.click("set_rele");
                break;
            case 1:
                bench.control<QComboBox>("output")->setCurrentIndex(1);
                bench.click("reset_rele");
                break;
            case 2:
                bench.control<QComboBox>("input")->setCurrentIndex(1);
                break;
            default:
                break;
            }
        }
        // A hostile reply that decodes may keep the window connected a while; the next tick
        // or the one after meets another.
        UnitBench::waitUntil([&] { return looksIdle(bench) && !busy(bench); }, 15000);
        for (const QString &text : bench.watcher.texts())
            QVERIFY2(windowMessages().contains(text), qPrintable(text));
        if (bench.watcher.texts().contains(QStringLiteral("Ошибка обмена !"))) {
            ++failures;
            QVERIFY(looksIdle(bench));
        }
        if (bench.startText() == QStringLiteral("Стоп"))
            bench.click("start"); // still connected on random data that decoded: stop
        QVERIFY(looksIdle(bench));
    }
    // Calm again: the late pieces of the last hostile replies have gone out, the unit is
    // found as before. The time is the case: every piece falls due within 2 s of its
    // request (the hostile line's longest spread), and goes out while the port is closed.
    bench.server.clearFault();
    QTest::qWait(2500);
    bench.watcher.clear();
    QVERIFY(bench.connectUnit(1));
    QCOMPARE(bench.items("input"), (QStringList{"1", "3"}));
    QVERIFY(bench.watcher.texts().isEmpty());
    qInfo("hostile window: %d rounds, %d connected, %d exchange failures reported, seed %u", rounds,
          connected, failures, seed);
}

Q_DECLARE_METATYPE(Fault)

void TestHostileWindow::lineFaultsKeepTheSession_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::newRow("one lost frame") << Fault::of(FaultKind::NoAnswer);
    QTest::newRow("stall of 1.5 s, then every copy at once") << Fault::delay(1500);
    Fault noise = Fault::garbageFirst("\x7f~#");
    noise.sticky = true;
    QTest::newRow("noise before every reply") << noise;
}

// Connected, board 1 in alarm; the fault plays on a status tick. The window stays
// connected without a box, shows the unit's status, and the ticks go on at their pace:
// the one after the fault goes out within a second of the last reply, not after a whole
// exchange's listening time.
void TestHostileWindow::lineFaultsKeepTheSession()
{
    QFETCH(Fault, fault);
    UnitBench bench;
    bench.unit.modify([](UnitState &s) { s.status[0] = 0x01; });
    QVERIFY(bench.connectUnit(1));
    QVERIFY(bench.waitForTicks(2));
    bench.clearRequests();
    bench.server.injectFault(fault);
    QVERIFY(bench.waitForTicks(6, 15000));

    QCOMPARE(bench.watcher.texts(), QStringList());
    QCOMPARE(bench.startText(), QStringLiteral("Стоп"));
    QCOMPARE(bench.stateText(), QStringLiteral("Тревога"));
    // The longest pause between two requests on the line.
    const QList<ReceivedFrame> frames = bench.server.receivedFrames();
    std::chrono::milliseconds longest{0};
    for (qsizetype i = 1; i < frames.size(); ++i)
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        frames[i].time - frames[i - 1].time));
    qInfo("longest pause between requests: %lld ms", qint64(longest.count()));
    // Measured 529 ms here; vertal-bench-losttick's figure for the lost tick to the next
    // tick, which holds this pause, is 739 ms at most: the bound is three times that, below
    // a whole exchange's listening time (2835 ms).
    if (fault.kind == FaultKind::NoAnswer)
        QVERIFY2(longest.count() < 2300, qPrintable(QString::number(longest.count())));
}

QTEST_MAIN(TestHostileWindow)
#include "tst_hostilewindow.moc"
