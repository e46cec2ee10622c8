// A connection's workers on a real line: retired while an exchange on them is still open
// up the stack, they stay alive until it returns; their port is closed as soon as their
// threads have ended, and the sweep deletes them afterwards without being asked.

#include "ccomport.h"
#include "exchangeresult.h"
#include "scriptedpeer.h"
#include "serialport.h"
#include "workerlifetimes.h"

#include <QPointer>
#include <QTest>
#include <QTimer>

class TestWorkerLifetimes : public QObject
{
    Q_OBJECT
private slots:
    void generations();
    void idleWorkersGoAtOnce();
    void retiredInTheMiddleOfAnExchange();
};

void TestWorkerLifetimes::generations()
{
    unit::WorkerLifetimes workers;
    const int first = workers.generation();
    QVERIFY(!workers.ended(first));
    const int second = workers.nextGeneration();
    QVERIFY(workers.ended(first));
    QVERIFY(!workers.ended(second));
    QCOMPARE(workers.generation(), second);
    workers.retire(nullptr, nullptr); // no connection: nothing to keep
    QVERIFY(!workers.anyRetired());
}

void TestWorkerLifetimes::idleWorkersGoAtOnce()
{
    ScriptedPeer peer;
    unit::WorkerLifetimes workers;
    QPointer<cComPort> owner = new cComPort(peer.slavePath());
    QVERIFY(!owner->openFailed());
    QPointer<cComPort> sharer = new cComPort(owner->serialPort());
    workers.retire(owner, sharer);
    QVERIFY(owner.isNull());
    QVERIFY(sharer.isNull());
    QVERIFY(!workers.anyRetired());
}

// The poll's worker is inside its exchange when the connection ends: it is kept (and so
// is the owner, whose port it uses), the port is closed at once, and both go once the
// call has returned.
void TestWorkerLifetimes::retiredInTheMiddleOfAnExchange()
{
    ScriptedPeer peer;
    peer.setScript([](int, const QByteArray &) { return ScriptedPeer::reply("!0119\r", 250); });
    unit::WorkerLifetimes workers;
    QPointer<cComPort> owner = new cComPort(peer.slavePath());
    QVERIFY(!owner->openFailed());
    QPointer<cComPort> sharer = new cComPort(owner->serialPort());
    SerialPort *line = owner->serialPort();

    bool keptWhileExchanging = false;
    bool ownerExchanging = true;
    bool closedAtOnce = false;
    QTimer::singleShot(50, [&] {
        QVERIFY(sharer->isExchanging());
        workers.retire(owner, sharer);
        keptWhileExchanging = !owner.isNull() && !sharer.isNull() && workers.anyRetired();
        ownerExchanging = workers.retiredOwnerExchanging();
        closedAtOnce = !line->isOpen();
    });
    QByteArray payload = QByteArray::fromHex("0105");
    const int result = sharer->exchange(payload, false);
    QVERIFY(result != Ok); // told to stop: the late reply is not taken
    QVERIFY(keptWhileExchanging);
    QVERIFY(!ownerExchanging); // the owner had no call open: a search may begin
    QVERIFY(closedAtOnce);
    QTRY_VERIFY_WITH_TIMEOUT(sharer.isNull() && owner.isNull(), 2000);
    QVERIFY(!workers.anyRetired());
}

QTEST_GUILESS_MAIN(TestWorkerLifetimes)
#include "tst_workerlifetimes.moc"
