// The wizard's exchange worker against the simulated unit, over a real pseudo-terminal:
// line speeds, line faults, a line reopened. (Two workers sharing the line and an unplugged
// adapter: tst_ccomport's secondWorkerWaitsForTheLink and unplugEndsExchange.)
#include "ccomport.h"
#include "exchangeresult.h"
#include "servedunit.h"
#include "simunit.h"
#include "speedrows.h"
#include "unitserver.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

Q_DECLARE_METATYPE(FaultKind)

namespace {

constexpr int unitSpeed = ServedUnit::speed;

} // namespace

class TestSimExchange : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void answersOnlyAtUnitSpeed_data();
    void answersOnlyAtUnitSpeed();
    void faults_data();
    void faults();
    void reopenedLineServesNextWorker();

private:
    std::unique_ptr<cComPort> worker(int baud = unitSpeed)
    {
        auto w = std::make_unique<cComPort>(served.linkPath());
        w->setBaudRate(baud);
        return w;
    }

    ServedUnit served;
};

void TestSimExchange::init()
{
    QVERIFY2(served.serve(), qPrintable(served.errorString()));
}

void TestSimExchange::cleanup()
{
    served.stop();
}

void TestSimExchange::answersOnlyAtUnitSpeed_data()
{
    addLineSpeedRows();
}

void TestSimExchange::answersOnlyAtUnitSpeed()
{
    QFETCH(int, baud);
    auto port = worker(baud);
    QByteArray buffer = ServedUnit::readBoards;
    const int result = port->exchange(buffer, false);
    const QList<ReceivedFrame> frames = served.server->receivedFrames();
    if (baud == unitSpeed) {
        QCOMPARE(result, int(Ok));
        QCOMPARE(quint8(buffer.at(1)), quint8(0x29));
        QCOMPARE(frames.size(), 1);
    } else {
        QCOMPARE(result, int(NoReply));
        QCOMPARE(served.server->framesWithPayload(ServedUnit::readBoards),
                 9); // nine copies, nothing else
        QCOMPARE(frames.size(), 9);
    }
    for (const ReceivedFrame &f : frames) {
        QCOMPARE(f.lineSpeed, baud);
        QVERIFY(f.checkOk);
        QCOMPARE(f.answered, baud == unitSpeed);
    }
}

void TestSimExchange::faults_data()
{
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<bool>("sticky");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("minCopies");
    QTest::addColumn<int>("maxCopies");
    QTest::addColumn<int>("delayMs");

    QTest::newRow("none") << FaultKind::None << false << int(Ok) << 1 << 1 << 0;
    QTest::newRow("no answer, once: resent")
        << FaultKind::NoAnswer << false << int(Ok) << 2 << 2 << 0;
    QTest::newRow("no answer, always: nine copies")
        << FaultKind::NoAnswer << true << int(NoReply) << 9 << 9 << 0;
    QTest::newRow("odd length") << FaultKind::OddLength << false << int(OddLength) << 1 << 1 << 0;
    QTest::newRow("bad high digit")
        << FaultKind::BadHighDigit << false << int(BadHighDigit) << 1 << 1 << 0;
    QTest::newRow("bad low digit")
        << FaultKind::BadLowDigit << false << int(BadLowDigit) << 1 << 1 << 0;
    // Pieces and a short delay fit one attempt's listening; a busy machine may need two.
    QTest::newRow("chunked") << FaultKind::Chunked << true << int(Ok) << 1 << 2 << 100;
    QTest::newRow("short delay") << FaultKind::Delay << true << int(Ok) << 1 << 2 << 100;
    QTest::newRow("garbage before frame, in one read: taken")
        << FaultKind::Garbage << false << int(Ok) << 1 << 1 << 0;
    QTest::newRow("garbage before every frame")
        << FaultKind::Garbage << true << int(Ok) << 1 << 1 << 0;
    // The unit stalls for longer than three attempts, then answers every copy at once: the
    // first reply is the exchange's, the others are not read as anything.
    QTest::newRow("stall, then every copy answered at once")
        << FaultKind::Delay << false << int(Ok) << 3 << 5 << 1200;
    QTest::newRow("babble, once: cut off, resent")
        << FaultKind::Babble << false << int(Ok) << 2 << 9 << 0;
    QTest::newRow("babble, always: bounded")
        << FaultKind::Babble << true << int(NoReply) << 9 << 9 << 0;
}

void TestSimExchange::faults()
{
    QFETCH(FaultKind, kind);
    QFETCH(bool, sticky);
    QFETCH(int, result);
    QFETCH(int, minCopies);
    QFETCH(int, maxCopies);
    QFETCH(int, delayMs);
    Fault fault;
    fault.kind = kind;
    fault.sticky = sticky;
    fault.delayMs = delayMs;
    fault.pauseMs = 40;          // a few counted polls between pieces
    fault.babbleBytes = 1 << 20; // longer than any reply the worker will take
    served.server->injectFault(fault);

    auto port = worker();
    QByteArray buffer = ServedUnit::readVersion;
    QCOMPARE(port->exchange(buffer, false), result);
    if (result == Ok)
        QCOMPARE(buffer.left(3), QByteArray::fromHex("070105"));
    const int copies = served.server->framesWithPayload(ServedUnit::readVersion);
    QVERIFY2(copies >= minCopies && copies <= maxCopies, qPrintable(QString::number(copies)));
    QCOMPARE(served.server->interleavedFrames(), 0);
    if (result != Ok)
        return;
    // Whatever the fault left on the line is not the next exchange's reply.
    served.server->clearFault();
    buffer = ServedUnit::readBoards;
    QCOMPARE(port->exchange(buffer, false), int(Ok));
    QCOMPARE(quint8(buffer.at(1)), quint8(0x29));
}

// The wizard closes its port between searches and opens it again, claiming it exclusively
// each time.
void TestSimExchange::reopenedLineServesNextWorker()
{
    for (int round = 0; round < 3; ++round) {
        auto port = worker();
        QByteArray buffer = ServedUnit::readBoards;
        QCOMPARE(port->exchange(buffer, false), int(Ok));
        QCOMPARE(quint8(buffer.at(1)), quint8(0x29));
    }
    QCOMPARE(served.server->receivedFrames().size(), 3);
}

QTEST_MAIN(TestSimExchange)
#include "tst_simexchange.moc"
