#include "exchangeresult.h"
#include "framecodec.h"

#include <QRandomGenerator>
#include <QTest>

class TestFrameCodec : public QObject
{
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
    void roundTrip();
};

void TestFrameCodec::encode_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("address 1, version") << QByteArray::fromHex("0126") << QByteArray("$012627\r");
    QTest::newRow("check byte wraps") << QByteArray::fromHex("FF05") << QByteArray("$FF0504\r");
    QTest::newRow("empty payload") << QByteArray() << QByteArray("$00\r");
    QTest::newRow("upper-case digits") << QByteArray::fromHex("0A2D") << QByteArray("$0A2D37\r");
}

void TestFrameCodec::encode()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    encodeFrame(payload);
    QCOMPARE(payload, frame);
}

void TestFrameCodec::decode_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("mixed case") << QByteArray("!0a1B\r") << int(Ok) << QByteArray::fromHex("0A1B");
    QTest::newRow("no bytes") << QByteArray("!\r") << int(Ok) << QByteArray();
    QTest::newRow("empty") << QByteArray() << int(Empty) << QByteArray();
    QTest::newRow("odd length") << QByteArray("!0\r") << int(OddLength) << QByteArray("!0\r");
    QTest::newRow("bad high digit") << QByteArray("!G0\r") << int(BadHighDigit) << QByteArray();
    QTest::newRow("bad low digit") << QByteArray("!0G\r") << int(BadLowDigit) << QByteArray();
    QTest::newRow("bad after one byte")
        << QByteArray("!01ZZ\r") << int(BadHighDigit) << QByteArray::fromHex("01");
    QTest::newRow("NUL inside") << QByteArray("!01\0"
                                              "02\r",
                                              7)
                                << int(NoEnd)
                                << QByteArray("!01\0"
                                              "02\r",
                                              7);
    QTest::newRow("line feed end") << QByteArray("!01\n") << int(NoEnd) << QByteArray("!01\n");
    QTest::newRow("no start wins") << QByteArray("x01") << int(NoStart) << QByteArray("x01");
    QTest::newRow("request echoed")
        << QByteArray("$0126\r") << int(NoStart) << QByteArray("$0126\r");
    QTest::newRow("lower-case digits")
        << QByteArray("!abcdef\r") << int(Ok) << QByteArray::fromHex("ABCDEF");
    QTest::newRow("unit's check byte kept")
        << QByteArray("!012627\r") << int(Ok) << QByteArray::fromHex("012627");
    QTest::newRow("NUL first") << QByteArray("\0!01\r", 5) << int(Empty)
                               << QByteArray("\0!01\r", 5);
    QTest::newRow("NUL after frame ignored")
        << QByteArray("!01\r\0xyz", 8) << int(Ok) << QByteArray::fromHex("01");
    QTest::newRow("only carriage return") << QByteArray("\r") << int(NoStart) << QByteArray("\r");
    QTest::newRow("start only") << QByteArray("!") << int(NoEnd) << QByteArray("!");
    QTest::newRow("carriage return inside")
        << QByteArray("!01\r2\r") << int(BadHighDigit) << QByteArray::fromHex("01");
    QTest::newRow("space is no digit") << QByteArray("!0 \r") << int(BadLowDigit) << QByteArray();
}

void TestFrameCodec::decode()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, result);
    QFETCH(QByteArray, after);
    QCOMPARE(decodeFrame(frame), result);
    QCOMPARE(frame, after);
}

// Any payload survives the trip: a request frame turned into a reply frame ('$' to '!',
// without the check digits) decodes back to the payload.
void TestFrameCodec::roundTrip()
{
    QRandomGenerator random(20261207);
    for (int round = 0; round < 2000; ++round) {
        QByteArray payload(random.bounded(0, 64), Qt::Uninitialized);
        for (char &byte : payload)
            byte = char(random.bounded(256));
        QByteArray frame = payload;
        encodeFrame(frame);
        QCOMPARE(frame.size(), 2 * payload.size() + 4);
        QCOMPARE(frame, frame.toUpper());
        frame[0] = '!';
        frame.remove(frame.size() - 3, 2);
        QCOMPARE(decodeFrame(frame), int(Ok));
        QCOMPARE(frame, payload);
    }
}

QTEST_APPLESS_MAIN(TestFrameCodec)
#include "tst_framecodec.moc"
