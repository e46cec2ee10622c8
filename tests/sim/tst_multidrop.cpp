// Several units on one line: each answers its own address; a request that more than one
// answers (address 0) gets their replies at once, and they collide.
#include "collision.h"
#include "exchangeresult.h"
#include "framecodec.h"
#include "rawclient.h"
#include "replyframe.h"
#include "simunit.h"
#include "unitserver.h"

#include <QTest>

namespace {

constexpr int replyWaitMs = 2000;
constexpr int silenceMs = 150;

UnitState unitAt(int address, int boardMap, int speed = 4800)
{
    UnitState s;
    s.address = quint8(address);
    s.boardMap = quint8(boardMap);
    s.lineSpeed = speed;
    return s;
}

} // namespace

class TestMultiDrop : public QObject
{
    Q_OBJECT
private slots:
    void collision_data();
    void collision();
    void eachUnitAnswersItsOwnAddress();
    void addressZeroCollides();
    void onlyUnitsAtTheLineSpeedJoin();
};

void TestMultiDrop::collision_data()
{
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("one frame") << QList<QByteArray>{"!0129\r"} << QByteArray("!0129\r");
    QTest::newRow("alike") << QList<QByteArray>{"!0129\r", "!0129\r"} << QByteArray("!0129\r");
    QTest::newRow("address differs") << QList<QByteArray>{"!0129\r", "!0229\r"}
                                     << QByteArray("!0\xFF"
                                                   "29\r");
    QTest::newRow("three, longer tail") << QList<QByteArray>{"!01\r", "!0129\r", "!0529\r"}
                                        << QByteArray("!0\xFF\xFF"
                                                      "9\r");
}

void TestMultiDrop::collision()
{
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, line);
    QCOMPARE(collideFrames(frames), line);
}

void TestMultiDrop::eachUnitAnswersItsOwnAddress()
{
    SimUnit first(unitAt(1, 0x19));
    SimUnit second(unitAt(2, 0x01));
    UnitServer server(first);
    server.addUnit(second);
    QVERIFY(server.start());
    RawClient client;
    QVERIFY(client.open(server.devicePath(), 4800));
    for (const auto &[address, map] : {std::pair{1, 0x19}, std::pair{2, 0x01}}) {
        QByteArray request;
        request.append(char(address)).append(char(0x05));
        client.send(request);
        QByteArray reply = client.readFrame(replyWaitMs);
        QCOMPARE(decodeFrame(reply), int(Ok));
        QCOMPARE(int(quint8(reply[0])), address);
        QCOMPARE(int(quint8(reply[1])), map);
    }
    client.send(QByteArray::fromHex("0305")); // nobody at 3
    QVERIFY(client.readFor(silenceMs).isEmpty());
    QVERIFY(!server.receivedFrames().constLast().collided);
}

// The reply to address 0 arrives garbled: a client cannot take it for one unit's reply.
void TestMultiDrop::addressZeroCollides()
{
    SimUnit a(unitAt(1, 0x19));
    SimUnit b(unitAt(2, 0x19));
    SimUnit c(unitAt(5, 0x01));
    UnitServer server(a);
    server.addUnit(b);
    server.addUnit(c);
    QVERIFY(server.start());
    RawClient client;
    QVERIFY(client.open(server.devicePath(), 4800));
    for (const char *hex : {"0005", "0020", "0026"}) {
        client.send(QByteArray::fromHex(hex));
        QByteArray reply = client.readFrame(replyWaitMs);
        QVERIFY2(reply.startsWith('!') && reply.endsWith('\r'), reply.toHex().constData());
        QVERIFY(reply.contains('\xFF'));
        const int result = decodeFrame(reply);
        QVERIFY(result == BadHighDigit || result == BadLowDigit);
        QVERIFY(server.receivedFrames().constLast().collided);
    }
}

void TestMultiDrop::onlyUnitsAtTheLineSpeedJoin()
{
    SimUnit slow(unitAt(1, 0x19, 4800));
    SimUnit fast(unitAt(2, 0x01, 9600));
    UnitServer server(slow);
    server.addUnit(fast);
    QVERIFY(server.start());
    RawClient client;
    QVERIFY(client.open(server.devicePath(), 9600));
    client.send(QByteArray::fromHex("0005"));
    QByteArray reply = client.readFrame(replyWaitMs);
    QCOMPARE(reply, encodeReplyFrame(*fast.handleRequest(QByteArray::fromHex("0005"))));
    QCOMPARE(decodeFrame(reply), int(Ok));
    QCOMPARE(int(quint8(reply[0])), 2);
}

QTEST_GUILESS_MAIN(TestMultiDrop)
#include "tst_multidrop.moc"
