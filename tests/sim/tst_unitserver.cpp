#include "exchangeresult.h"
#include "framecodec.h"
#include "processclock.h"
#include "rawclient.h"
#include "replyframe.h"
#include "servedunit.h"
#include "simunit.h"
#include "speedrows.h"
#include "unitserver.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>

Q_DECLARE_METATYPE(FaultKind)

namespace {

constexpr int unitSpeed = ServedUnit::speed;
constexpr int replyWaitMs = 2000; // generous: the machine may be busy
constexpr int silenceMs = 150;    // how long "nothing came" is watched

} // namespace

class TestUnitServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void answersOnlyAtItsSpeed_data();
    void answersOnlyAtItsSpeed();
    void answersOnlyItsAddressAndRightCheck_data();
    void answersOnlyItsAddressAndRightCheck();
    void logsMalformedAndInterleavedFrames();
    void mangledReplies_data();
    void mangledReplies();
    void noAnswerOnceThenAnswers();
    void stickyFaultStays();
    void delayedReply();
    void chunkedReply();
    void garbageBeforeReply();
    void babbleIsBoundedAndStopsAtNextRequest();
    void unplugHangsUpAndReplugGivesFreshLine();
    void slaveClosedAndReopened();
    void idleLineCostsNoCpu();
    void replyAfterSlaveClosedDoesNotHurt();

private:
    void open(int baud = unitSpeed) { QVERIFY(client.open(served.server->devicePath(), baud)); }
    ReceivedFrame lastFrame()
    {
        const QList<ReceivedFrame> frames = served.server->receivedFrames();
        return frames.isEmpty() ? ReceivedFrame() : frames.constLast();
    }

    ServedUnit served;
    RawClient client;
};

void TestUnitServer::init()
{
    QVERIFY2(served.serve(), qPrintable(served.errorString()));
}

void TestUnitServer::cleanup()
{
    client.close();
    served.stop();
    QVERIFY(!QFileInfo(served.linkPath()).isSymLink());
}

void TestUnitServer::answersOnlyAtItsSpeed_data()
{
    addLineSpeedRows();
}

void TestUnitServer::answersOnlyAtItsSpeed()
{
    QFETCH(int, baud);
    open(baud);
    client.send(ServedUnit::readBoards);
    QVERIFY(served.server->waitForFrames(1, replyWaitMs));
    const ReceivedFrame f = lastFrame();
    QCOMPARE(f.lineSpeed, baud);
    QCOMPARE(f.payload, ServedUnit::readBoards);
    QVERIFY(f.checkOk);
    QCOMPARE(f.answered, baud == unitSpeed);
    const QByteArray reply =
        baud == unitSpeed ? client.readFrame(replyWaitMs) : client.readFor(silenceMs);
    QCOMPARE(reply, baud == unitSpeed
                        ? encodeReplyFrame(*served.unit.handleRequest(ServedUnit::readBoards))
                        : QByteArray());
}

void TestUnitServer::answersOnlyItsAddressAndRightCheck_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("checkOk");
    QTest::addColumn<bool>("answered");
    QTest::newRow("own address") << requestFrame(ServedUnit::readVersion) << true << true;
    QTest::newRow("address 0") << requestFrame(QByteArray::fromHex("0026")) << true << true;
    QTest::newRow("another address") << requestFrame(QByteArray::fromHex("0826")) << true << false;
    QTest::newRow("wrong check byte") << QByteArray("$07262E\r") << false << false;
    QTest::newRow("lower-case digits") << QByteArray("$07262d\r") << true << true;
}

void TestUnitServer::answersOnlyItsAddressAndRightCheck()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, checkOk);
    QFETCH(bool, answered);
    open();
    client.sendRaw(frame);
    QVERIFY(served.server->waitForFrames(1, replyWaitMs));
    QCOMPARE(lastFrame().raw, frame);
    QCOMPARE(lastFrame().checkOk, checkOk);
    QCOMPARE(lastFrame().answered, answered);
    const QByteArray reply = answered ? client.readFrame(replyWaitMs) : client.readFor(silenceMs);
    QCOMPARE(reply, answered ? QByteArray("!0701050D\r") : QByteArray());
}

void TestUnitServer::logsMalformedAndInterleavedFrames()
{
    open();
    client.sendRaw("noise$0705$07050C\r$07G50C\r$070\r");
    QVERIFY(served.server->waitForFrames(4, replyWaitMs));
    const QList<ReceivedFrame> frames = served.server->receivedFrames();
    QCOMPARE(frames.size(), 4);
    QCOMPARE(frames[0].raw, QByteArray("$0705"));
    QVERIFY(frames[0].interleaved && !frames[0].wellFormed && !frames[0].answered);
    QCOMPARE(frames[1].raw, QByteArray("$07050C\r"));
    QVERIFY(frames[1].answered);
    QVERIFY(!frames[2].wellFormed && !frames[2].interleaved && !frames[2].answered);
    QVERIFY(!frames[3].wellFormed && !frames[3].answered);
    QCOMPARE(served.server->interleavedFrames(), 1);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!072930\r"));
    QVERIFY(frames[0].time <= frames[1].time && frames[1].time <= frames[3].time);
}

void TestUnitServer::mangledReplies_data()
{
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("decoded");
    QTest::newRow("odd length") << FaultKind::OddLength << QByteArray("!0729300\r")
                                << int(OddLength);
    QTest::newRow("bad high digit")
        << FaultKind::BadHighDigit << QByteArray("!G72930\r") << int(BadHighDigit);
    QTest::newRow("bad low digit")
        << FaultKind::BadLowDigit << QByteArray("!0G2930\r") << int(BadLowDigit);
    QTest::newRow("no fault") << FaultKind::None << QByteArray("!072930\r") << int(Ok);
}

void TestUnitServer::mangledReplies()
{
    QFETCH(FaultKind, kind);
    QFETCH(QByteArray, reply);
    QFETCH(int, decoded);
    served.server->injectFault(Fault::of(kind));
    open();
    client.send(ServedUnit::readBoards);
    QByteArray got = client.readFrame(replyWaitMs);
    QCOMPARE(got, reply);
    QCOMPARE(decodeFrame(got), decoded);
    QCOMPARE(lastFrame().fault, kind);
    // once: the next reply is plain again
    client.send(ServedUnit::readBoards);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!072930\r"));
}

void TestUnitServer::noAnswerOnceThenAnswers()
{
    served.server->injectFault(Fault::of(FaultKind::NoAnswer));
    open();
    client.send(ServedUnit::readBoards);
    QVERIFY(served.server->waitForFrames(1, replyWaitMs));
    QCOMPARE(client.readFor(silenceMs), QByteArray());
    QVERIFY(!lastFrame().answered);
    QCOMPARE(lastFrame().fault, FaultKind::NoAnswer);
    client.send(ServedUnit::readBoards);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!072930\r"));
    QCOMPARE(served.server->fault().kind, FaultKind::None);
}

void TestUnitServer::stickyFaultStays()
{
    served.server->injectFault(Fault::of(FaultKind::NoAnswer, true));
    open();
    for (int i = 0; i < 3; ++i)
        client.send(ServedUnit::readBoards);
    QVERIFY(served.server->waitForFrames(3, replyWaitMs));
    QCOMPARE(client.readFor(silenceMs), QByteArray());
    for (const ReceivedFrame &f : served.server->receivedFrames())
        QVERIFY(f.checkOk && !f.answered);
    served.server->clearFault();
    client.send(ServedUnit::readBoards);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!072930\r"));
}

void TestUnitServer::delayedReply()
{
    const Fault fault = Fault::delay(300);
    served.server->injectFault(fault);
    open();
    QElapsedTimer clock;
    clock.start();
    client.send(ServedUnit::readBoards);
    QCOMPARE(client.readFrame(replyWaitMs + fault.delayMs), QByteArray("!072930\r"));
    QVERIFY(clock.elapsed() >= fault.delayMs); // never early
}

void TestUnitServer::chunkedReply()
{
    served.server->injectFault(Fault::chunked(3, 60));
    open();
    client.send(ServedUnit::readVersion);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!0701050D\r"));
    QVERIFY2(client.readsWithData() >= 2, "the reply came in one piece");
}

void TestUnitServer::garbageBeforeReply()
{
    served.server->injectFault(Fault::garbageFirst("xyz"));
    open();
    client.send(ServedUnit::readBoards);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("xyz!072930\r"));
}

void TestUnitServer::babbleIsBoundedAndStopsAtNextRequest()
{
    Fault fault = Fault::babble(300);
    served.server->injectFault(fault);
    open();
    client.send(ServedUnit::readBoards);
    QByteArray got = client.readBytes(300, replyWaitMs);
    got += client.readFor(silenceMs);
    QCOMPARE(got.size(), 300);
    QVERIFY(got.startsWith('!'));
    QVERIFY(!got.contains('\r'));

    fault.babbleBytes = 1 << 30; // would last for hours
    served.server->injectFault(fault);
    client.send(ServedUnit::readBoards);
    QVERIFY(client.readBytes(200, replyWaitMs).size() >= 200);
    client.send(ServedUnit::readBoards); // a new request ends it and is answered
    got = client.readFrame(replyWaitMs);
    QVERIFY2(got.endsWith("!072930\r"), got.right(40).constData());
    QCOMPARE(client.readFor(silenceMs), QByteArray());
}

void TestUnitServer::unplugHangsUpAndReplugGivesFreshLine()
{
    const QString link = served.linkPath();
    const QString first = served.server->devicePath();
    QCOMPARE(QFileInfo(link).symLinkTarget(), first);
    served.server->injectFault(Fault::of(FaultKind::Unplug));
    open();
    client.send(ServedUnit::readBoards);
    client.readFor(replyWaitMs); // ends at the hang-up
    QVERIFY(client.hungUp());
    QVERIFY(!served.server->isPlugged());
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(served.server->waitForFrames(1, replyWaitMs));
    QCOMPARE(lastFrame().fault, FaultKind::Unplug);
    QVERIFY(!lastFrame().answered);
    client.close();

    const QString second = served.server->replug();
    QVERIFY(!second.isEmpty());
    QCOMPARE(QFileInfo(link).symLinkTarget(), second);
    QVERIFY(client.open(link, unitSpeed));
    client.send(ServedUnit::readBoards);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!072930\r"));

    served.server->unplug(); // by hand, at once
    client.readFor(replyWaitMs);
    QVERIFY(client.hungUp());
}

void TestUnitServer::slaveClosedAndReopened()
{
    for (int round = 0; round < 3; ++round) {
        open();
        client.send(ServedUnit::readBoards);
        QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!072930\r"));
        client.close();
        // The time is the case: the line stays closed long enough for the server to
        // see it idle and nap before the next open.
        QTest::qWait(50);
    }
    QCOMPARE(served.server->receivedFrames().size(), 3);
}

// With no slave open the master reports a hang-up at once; the server must nap, not spin.
void TestUnitServer::idleLineCostsNoCpu()
{
    open();
    client.close();
    const double before = selfCpuSeconds();
    QTest::qSleep(1000); // the time is the case: a second of a closed line, measured in CPU
    const double used = selfCpuSeconds() - before;
    QVERIFY2(used < 0.3, qPrintable(QString("%1 s of CPU while idle").arg(used)));
    open();
    client.send(ServedUnit::readBoards);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!072930\r"));
}

// A late reply while no slave is open is lost, as on a real line: it neither blocks the
// server nor waits in the line for the next one who opens it.
void TestUnitServer::replyAfterSlaveClosedDoesNotHurt()
{
    served.server->injectFault(Fault::delay(100));
    open();
    client.send(ServedUnit::readBoards);
    QVERIFY(served.server->waitForFrames(1, replyWaitMs));
    client.close();
    // The time is the case: the reply falls due (100 ms after the request) while no slave
    // is open.
    QTest::qSleep(300);
    open();
    QCOMPARE(client.readFor(silenceMs), QByteArray()); // nothing stale waits on the line
    client.send(ServedUnit::readVersion);
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!0701050D\r"));
}

QTEST_GUILESS_MAIN(TestUnitServer)
#include "tst_unitserver.moc"
