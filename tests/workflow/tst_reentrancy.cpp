// Clicks and ticks that run inside other operations' waits. Every exchange processes the
// window's events while it waits for the unit, so the operator (or the poll timer) can
// start something in the middle of another operation; none of that may give a worker a
// second exchange, destroy a worker under its own call, or revive a connection that ended.

#include "ccomport.h"
#include "commandcodes.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QWidget>

class TestReentrancy : public QObject
{
    Q_OBJECT
private slots:
    void clickWhilePortExchanging_data();
    void clickWhilePortExchanging();
    void stopThenStartDuringTick();
    void stopDuringTick_data();
    void stopDuringTick();
    void endDuringSettleWait_data();
    void endDuringSettleWait();
    void tickDuringSettleWait();
    void stopDuringSearchExchange();
    void startAfterCancelDuringTry();
    void stopDuringRelayWrite();
    void stopWhilePollStops_data();
    void stopWhilePollStops();
    void failureWhileTickInFlight();
    void destructorReleasesBothWorkers();
};

namespace {

// Every reply goes out late, so that there is time to act while an exchange waits.
void answerLate(UnitBench &bench, int ms)
{
    bench.server.injectFault(Fault::delay(ms, true));
}

// A status tick has sent its request and waits for the (late) reply.
std::function<bool()> tickWaiting(UnitBench &bench)
{
    return [&bench] {
        return bench.pollExchanging() && !bench.requestsFor(CMD_READ_STATUS).isEmpty();
    };
}

void setBoardAlarm(UnitBench &bench, bool alarm)
{
    bench.unit.modify([&](UnitState &s) { s.status[0] = alarm ? 0x01 : 0x00; });
}

// Opens and closes the unit's case; `action` runs once the tick that found the case closed
// again is in its settle wait (its reply painted nothing and no reload began yet).
bool inSettleWait(UnitBench &bench, std::function<void()> action)
{
    setCaseOpen(bench, true);
    if (!bench.waitForTicks(1))
        return false;
    setCaseOpen(bench, false);
    bench.clearRequests();
    bench.when(
        [&bench] {
            return !bench.requestsFor(CMD_READ_STATUS).isEmpty() && !bench.pollExchanging();
        },
        std::move(action));
    return true;
}

bool connected(const UnitBench &bench)
{
    return bench.startText() == QStringLiteral("Стоп") && bench.window->isPolling();
}

} // namespace

void TestReentrancy::clickWhilePortExchanging_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("firstCommand");
    QTest::addColumn<int>("droppedCommand");
    QTest::newRow("Переключить during Установить")
        << "set_rele"
        << "reset_rele" << int(CMD_SET_ALARM_RELE) << int(CMD_SWITCH_RELE);
    QTest::newRow("input board during Установить")
        << "set_rele"
        << "input" << int(CMD_SET_ALARM_RELE) << int(CMD_READ_ALARM_RELE);
    QTest::newRow("Установить during Переключить")
        << "reset_rele"
        << "set_rele" << int(CMD_SWITCH_RELE) << int(CMD_SET_ALARM_RELE);
    QTest::newRow("Переключить during input board")
        << "input"
        << "reset_rele" << int(CMD_READ_ALARM_RELE) << int(CMD_SWITCH_RELE);
}

// The second click finds the primary worker waiting for the first one's reply and does
// nothing; the first operation ends normally and the window stays connected.
void TestReentrancy::clickWhilePortExchanging()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, firstCommand);
    QFETCH(int, droppedCommand);
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.control<QComboBox>("output")->setCurrentIndex(1);
    bench.control<QSpinBox>("a_time")->setValue(0); // passes the on-time check
    auto act = [&bench](const QString &control) {
        if (control == QLatin1String("input"))
            bench.control<QComboBox>("input")->setCurrentIndex(1);
        else
            bench.click(qPrintable(control));
    };
    bench.clearRequests();
    answerLate(bench, 200);
    bool acted = false;
    bench.when([&] { return bench.portExchanging(); },
               [&] {
                   act(second);
                   acted = true;
               });
    act(first);
    QVERIFY(acted);
    QCOMPARE(bench.requestsFor(quint8(firstCommand)).size(), 1);
    QVERIFY(bench.requestsFor(quint8(droppedCommand)).isEmpty());
    QVERIFY(bench.watcher.boxes().isEmpty());
    QVERIFY(connected(bench));
}

// "Стоп" and "Старт" while a tick waits for its reply: the new search replaces the workers,
// but the tick's worker lives until its call has returned; the tick then ends quietly and
// the new connection runs on. Nothing is left behind.
// "Стоп" and at once "Старт" while a tick waits for a slow unit. The old tick asked while
// the board was in alarm; its reply, still owed when the port was closed and opened again,
// comes only after a search takes (a second). It must be waited out by the new connection,
// never read as the answer to one of its requests.
void TestReentrancy::stopThenStartDuringTick()
{
    constexpr int lateMs = 1000;
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.clearRequests();
    setBoardAlarm(bench, true);
    answerLate(bench, lateMs);
    QPointer<cComPort> oldPoll, oldPort;
    bool oldPollAliveInCall = false;
    bool restarted = false;
    QElapsedTimer sinceStop;
    bench.when(tickWaiting(bench), [&] {
        oldPoll = bench.window->pollWorker();
        oldPort = bench.window->primaryWorker();
        bench.server.clearFault();
        setBoardAlarm(bench, false);
        sinceStop.start();
        bench.click("start"); // Стоп
        bench.click("start"); // Старт: a whole new search, inside the tick's wait
        restarted = connected(bench);
        oldPollAliveInCall = !oldPoll.isNull();
    });
    QVERIFY(bench.waitUntil([&] { return restarted && oldPoll.isNull(); }));
    QVERIFY(oldPollAliveInCall);
    QVERIFY(oldPort.isNull());
    QVERIFY(bench.window->pollWorker() && bench.window->pollWorker() != oldPoll.data());
    QVERIFY(connected(bench));
    QCOMPARE(openDescriptorsOn(bench.server.devicePath()), 1);
    // Ticks until well after the old reply went out: every one shows the board as it is.
    QStringList shown;
    bench.waitUntil(
        [&] {
            if (shown.isEmpty() || shown.constLast() != bench.stateText())
                shown << bench.stateText();
            return sinceStop.elapsed() > lateMs + 1500;
        },
        lateMs + 5000);
    QVERIFY(bench.waitForTicks(1));
    shown.removeAll(QStringLiteral("  ")); // the idle look, until the first tick
    QCOMPARE(shown, QStringList{QStringLiteral("Норма")});
    QVERIFY(bench.watcher.boxes().isEmpty());
    QVERIFY(connected(bench));
}

void TestReentrancy::stopDuringTick_data()
{
    QTest::addColumn<bool>("lineGone");
    QTest::newRow("the reply comes") << false;
    QTest::newRow("the tick fails") << true;
}

// "Стоп" while a tick waits: whatever its exchange brings, the tick neither paints the idle
// window nor reports a failure of a connection that has already ended.
void TestReentrancy::stopDuringTick()
{
    QFETCH(bool, lineGone);
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.clearRequests();
    answerLate(bench, 200);
    bool acted = false;
    bench.when(tickWaiting(bench), [&] {
        if (lineGone)
            bench.server.unplug();
        bench.click("start");
        acted = true;
    });
    QVERIFY(bench.waitUntil([&] { return acted && !bench.pollExchanging(); }));
    // The time is the case: nothing is painted or reported after the tick has ended.
    QTest::qWait(300);
    QVERIFY(looksIdle(bench));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

void TestReentrancy::endDuringSettleWait_data()
{
    QTest::addColumn<bool>("byFailure");
    QTest::newRow("Стоп") << false;
    QTest::newRow("a failed write") << true;
}

// The connection ends while a tick waits for the unit to settle: the unit is not re-read
// and the window stays idle.
void TestReentrancy::endDuringSettleWait()
{
    QFETCH(bool, byFailure);
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.control<QComboBox>("output")->setCurrentIndex(1);
    bool acted = false;
    QVERIFY(inSettleWait(bench, [&] {
        if (byFailure) {
            bench.server.injectFault(Fault::of(FaultKind::OddLength));
            bench.click("reset_rele");
        } else {
            bench.click("start");
        }
        acted = true;
    }));
    QVERIFY(bench.waitUntil([&] { return acted; }));
    // The time is the case: past the 800 ms settle wait, nothing is re-read.
    QTest::qWait(1200);
    QVERIFY(bench.requestsFor(CMD_READ_BOARDS).isEmpty());
    QVERIFY(looksIdle(bench));
    QCOMPARE(bench.watcher.texts(), byFailure ? QStringList{"Ошибка обмена !"} : QStringList{});
}

// An input board picked during the settle wait restarts the poll; the tick that restart
// brings (still within the wait) must not start a second settle wait and re-read.
void TestReentrancy::tickDuringSettleWait()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bool acted = false;
    QVERIFY(inSettleWait(bench, [&] {
        bench.control<QComboBox>("input")->setCurrentIndex(1);
        acted = true;
    }));
    QVERIFY(bench.waitForRequest(CMD_READ_BOARDS, 3000));
    QVERIFY(acted);
    QCOMPARE(bench.requestsFor(CMD_READ_ALARM_RELE).first(), QByteArray::fromHex("010B03"));
    QVERIFY(bench.waitUntil([&] { return bench.window->isPolling(); }));
    // The time is the case: past the settle wait and two ticks, no second re-read.
    QTest::qWait(1500);
    QCOMPARE(bench.requestsFor(CMD_READ_BOARDS).size(), 1);
    QVERIFY(connected(bench));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

// "Стоп" while the search waits for the version (its progress dialog already gone): the
// search ends there. A "Старт" while that request is still out is dropped.
void TestReentrancy::stopDuringSearchExchange()
{
    UnitBench bench;
    QVERIFY(bench.isReady());
    answerLate(bench, 200);
    bool acted = false;
    bench.when([&] { return !bench.requestsFor(CMD_READ_VERSION).isEmpty(); },
               [&] {
                   QCOMPARE(bench.startText(), QStringLiteral("Стоп"));
                   bench.click("start"); // Стоп
                   bench.click("start"); // Старт, dropped: the old request is still out
                   acted = true;
               });
    QVERIFY(!bench.connectUnit(1));
    QVERIFY(acted);
    QVERIFY(looksIdle(bench));
    QVERIFY(!bench.window->pollWorker());
    QVERIFY(bench.requestsFor(CMD_READ_ALARM_RELE).isEmpty());
    QCOMPARE(bench.requestsFor(CMD_READ_BOARDS).size(), 1);
    // The time is the case: past the poll's 500 ms period, no tick comes.
    QTest::qWait(700);
    QVERIFY(bench.requestsFor(CMD_READ_STATUS).isEmpty());
    QVERIFY(looksIdle(bench));
    QVERIFY(bench.watcher.boxes().isEmpty());

    bench.server.clearFault();
    QVERIFY(bench.connectUnit(1));
}

// "Стоп" while a relay write waits: the write does not restart the poll afterwards. The
// write goes out at most once: "Стоп" may even come before its thread has sent it.
// "Стоп" in the search's progress dialog hides it at once, while the try in flight still
// waits for its reply; "Старт" then begins a new search inside that wait. The connection it
// makes stays when the cancelled search, returning, ends: that one ends only its own worker.
void TestReentrancy::startAfterCancelDuringTry()
{
    UnitBench bench;
    auto *addr = bench.control<QSpinBox>("addr");
    addr->setValue(9); // nobody answers address 9: the first search's tries stay silent
    bool cancelled = false;
    bool restarted = false;
    bench.watcher.otherModal = [&](QWidget *modal) {
        auto *progress = qobject_cast<QProgressDialog *>(modal);
        if (!progress || cancelled || !bench.portExchanging())
            return;
        cancelled = true;
        progress->findChildren<QPushButton *>().first()->click();
        const QPointer<QProgressDialog> shown = progress;
        bench.when([shown] { return !shown || !shown->isVisible(); },
                   [&] {
                       addr->setValue(1);
                       bench.click("start");
                       restarted = connected(bench);
                   });
    };
    bench.click("start");
    QVERIFY(bench.waitUntil([&] { return restarted; }, 10000));
    // The cancelled search has returned by now: its worker was replaced inside its wait.
    QVERIFY(bench.waitUntil([&] { return !bench.portExchanging(); }));
    QVERIFY(bench.window->primaryWorker());
    QVERIFY(bench.window->pollWorker());
    QVERIFY(connected(bench));
    QVERIFY(bench.waitForTicks(2));
    QCOMPARE(bench.stateText(), QStringLiteral("Норма"));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

void TestReentrancy::stopDuringRelayWrite()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.control<QSpinBox>("a_period")->setValue(5); // enables "Установить"
    answerLate(bench, 200);
    bool acted = false;
    bench.when([&] { return bench.portExchanging(); },
               [&] {
                   bench.click("start");
                   acted = true;
               });
    bench.click("set_rele");
    QVERIFY(acted);
    QVERIFY(bench.requestsFor(CMD_SET_ALARM_RELE).size() <= 1);
    bench.clearRequests();
    // The time is the case: past the poll's 500 ms period, no tick comes.
    QTest::qWait(700);
    QVERIFY(bench.requestsFor(CMD_READ_STATUS).isEmpty());
    QVERIFY(looksIdle(bench));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

void TestReentrancy::stopWhilePollStops_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("command");
    QTest::newRow("Установить") << "set_rele" << int(CMD_SET_ALARM_RELE);
    QTest::newRow("Переключить") << "reset_rele" << int(CMD_SWITCH_RELE);
    QTest::newRow("input board") << "input" << int(CMD_READ_ALARM_RELE);
}

// "Стоп" already queued when an operation starts is handled while that operation pauses
// the poll: the operation then sends nothing on the connection that has just ended.
void TestReentrancy::stopWhilePollStops()
{
    QFETCH(QString, control);
    QFETCH(int, command);
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.control<QComboBox>("output")->setCurrentIndex(1);
    bench.control<QSpinBox>("a_period")->setValue(5);
    bench.clearRequests();
    QMetaObject::invokeMethod(bench.control<QPushButton>("start"), "click", Qt::QueuedConnection);
    // Synchronous: the first events handled are those of the operation's stopPoll.
    if (control == QLatin1String("input"))
        bench.control<QComboBox>("input")->setCurrentIndex(1);
    else
        bench.control<QPushButton>(qPrintable(control))->click();
    QVERIFY(bench.requestsFor(quint8(command)).isEmpty());
    // The time is the case: past the poll's 500 ms period, no tick comes.
    QTest::qWait(700);
    QVERIFY(bench.requestsFor(CMD_READ_STATUS).isEmpty());
    QVERIFY(looksIdle(bench));
    QVERIFY(bench.watcher.boxes().isEmpty());
}

// The line goes while a tick waits and the operator presses "Установить": the write fails
// and reports it; the tick, failing after the connection has already ended, says nothing.
void TestReentrancy::failureWhileTickInFlight()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    bench.control<QSpinBox>("a_period")->setValue(5); // enables "Установить"
    bench.clearRequests();
    answerLate(bench, 200);
    bool acted = false;
    bench.when(tickWaiting(bench), [&] {
        bench.server.unplug();
        bench.click("set_rele");
        QCOMPARE(bench.watcher.texts(), QStringList{"Ошибка обмена !"}); // the write's
        acted = true;
    });
    QVERIFY(bench.waitUntil([&] { return acted && !bench.pollExchanging(); }));
    // The time is the case: nothing is painted or reported after the tick has ended.
    QTest::qWait(300);
    QCOMPARE(bench.watcher.texts(), QStringList{"Ошибка обмена !"});
    QVERIFY(looksIdle(bench));
}

void TestReentrancy::destructorReleasesBothWorkers()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit(1));
    QPointer<cComPort> poll = bench.window->pollWorker();
    QPointer<cComPort> primary = bench.window->primaryWorker();
    QVERIFY(poll && primary);
    bench.window.reset();
    QVERIFY(poll.isNull());
    QVERIFY(primary.isNull());
    QCOMPARE(openDescriptorsOn(bench.server.devicePath()), 0);
}

QTEST_MAIN(TestReentrancy)
#include "tst_reentrancy.moc"
