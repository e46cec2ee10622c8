#include "exchangeresult.h"
#include "framecodec.h"

#include <QTest>

class TestFrameCodec : public QObject
{
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
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
}

void TestFrameCodec::decode()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, result);
    QFETCH(QByteArray, after);
    QCOMPARE(decodeFrame(frame), result);
    QCOMPARE(frame, after);
}

QTEST_APPLESS_MAIN(TestFrameCodec)
#include "tst_framecodec.moc"
