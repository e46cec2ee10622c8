#include "commandcodes.h"
#include "commandset.h"

#include <QTest>

// Requests are exactly the listed bytes, each the low 8 bits of its value; replies are read
// by index with 0 beyond the end, 16-bit values low byte first.
class TestCommandSet : public QObject
{
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void replyBytes_data();
    void replyBytes();
    void boardMap_data();
    void boardMap();
    void alarmRele_data();
    void alarmRele();
    void readers();
};

void TestCommandSet::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("status board 3") << command::readStatus(1, 3) << QByteArray::fromHex("010403");
    QTest::newRow("status no board") << command::readStatus(7, 0) << QByteArray::fromHex("070400");
    QTest::newRow("boards") << command::readBoards(0) << QByteArray::fromHex("0005");
    QTest::newRow("boards address 255") << command::readBoards(255) << QByteArray::fromHex("FF05");
    QTest::newRow("alarm rele") << command::readAlarmRele(2, 4) << QByteArray::fromHex("020B04");
    QTest::newRow("address, always to 0") << command::readAddress() << QByteArray::fromHex("0020");
    QTest::newRow("address 200 later") << command::readVersion(200) << QByteArray::fromHex("C826");
    QTest::newRow("value") << command::readValue(1, 2) << QByteArray::fromHex("012902");
    QTest::newRow("board type") << command::setBoardType(5, 2, 1)
                                << QByteArray::fromHex("052C0201");
    QTest::newRow("set rele 300 s / 60 s")
        << command::setAlarmRele(1, 1, 2, 300, 60) << QByteArray::fromHex("012D0102 2C013C00");
    QTest::newRow("set rele 300 s / 120 s")
        << command::setAlarmRele(3, 2, 4, 300, 120) << QByteArray::fromHex("032D0204 2C017800");
    QTest::newRow("set rele no relay, zeros")
        << command::setAlarmRele(0, 1, 0, 0, 0) << QByteArray::fromHex("002D0100 00000000");
    QTest::newRow("set rele 16-bit max") << command::setAlarmRele(1, 1, 2, 0xFFFF, 0x1234)
                                         << QByteArray::fromHex("012D0102 FFFF3412");
    QTest::newRow("switch") << command::switchRele(9, 3) << QByteArray::fromHex("092E03");
    QTest::newRow("low 8 bits of address")
        << command::readBoards(0x1C8) << QByteArray::fromHex("C805");
    QTest::newRow("low 8 bits of board")
        << command::readStatus(1, 0x103) << QByteArray::fromHex("010403");
    QTest::newRow("low 8 bits of type")
        << command::setBoardType(1, 1, -1) << QByteArray::fromHex("012C01FF");
    QTest::newRow("low 8 bits of relay")
        << command::switchRele(1, 260) << QByteArray::fromHex("012E04");
}

void TestCommandSet::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, bytes);
    QCOMPARE(request.toHex(' '), bytes.toHex(' '));
}

void TestCommandSet::replyBytes_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("word");
    QTest::newRow("unsigned") << QByteArray::fromHex("00FF80") << 1 << 0xFF << 0x80FF;
    QTest::newRow("last byte, high beyond end") << QByteArray::fromHex("0012") << 1 << 0x12 << 0x12;
    QTest::newRow("beyond end") << QByteArray::fromHex("0012") << 2 << 0 << 0;
    QTest::newRow("empty reply") << QByteArray() << 0 << 0 << 0;
    QTest::newRow("negative index") << QByteArray::fromHex("01") << -1 << 0 << 1 * 256;
    QTest::newRow("word FFFF") << QByteArray::fromHex("00FFFF") << 1 << 0xFF << 65535;
    QTest::newRow("word 4660") << QByteArray::fromHex("003412") << 1 << 0x34 << 4660;
}

void TestCommandSet::replyBytes()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, index);
    QFETCH(int, byte);
    QFETCH(int, word);
    QCOMPARE(command::replyByte(reply, index), byte);
    QCOMPARE(command::replyWord(reply, index), word);
}

void TestCommandSet::boardMap_data()
{
    QTest::addColumn<int>("map");
    QTest::addColumn<QList<int>>("kinds");
    QTest::newRow("0x29") << 0x29 << QList<int>{InputBoard, RelayBoard, RelayBoard, NoBoard};
    QTest::newRow("0x19") << 0x19 << QList<int>{InputBoard, RelayBoard, InputBoard, NoBoard};
    QTest::newRow("0xAA") << 0xAA << QList<int>{RelayBoard, RelayBoard, RelayBoard, RelayBoard};
    QTest::newRow("0xFF") << 0xFF << QList<int>{3, 3, 3, 3};
    QTest::newRow("0x00") << 0x00 << QList<int>{NoBoard, NoBoard, NoBoard, NoBoard};
    QTest::newRow("position 4 only") << 0x40 << QList<int>{NoBoard, NoBoard, NoBoard, InputBoard};
}

void TestCommandSet::boardMap()
{
    QFETCH(int, map);
    QFETCH(QList<int>, kinds);
    QCOMPARE(command::boardMap(QByteArray::fromHex("00") + char(map)), map);
    for (int position = 1; position <= boardPositions; ++position)
        QCOMPARE(command::boardKind(map, position), kinds.at(position - 1));
}

void TestCommandSet::alarmRele_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("relay");
    QTest::addColumn<int>("onTime");
    QTest::addColumn<int>("period");
    QTest::newRow("relay 2, 300 s, 120 s")
        << QByteArray::fromHex("010B010000 00 022C017800") << 2 << 300 << 120;
    QTest::newRow("bytes 1-5 ignored")
        << QByteArray::fromHex("FFFFFFFFFF FF 011E000500") << 1 << 30 << 5;
    QTest::newRow("short: period high missing")
        << QByteArray::fromHex("0000000000 00 0203040506").left(10) << 2 << 0x0403 << 0x05;
    QTest::newRow("short: nothing past byte 5") << QByteArray::fromHex("010B") << 0 << 0 << 0;
    QTest::newRow("period 3600") << QByteArray::fromHex("0000000000 00 02 0000 100E") << 2 << 0
                                 << 3600;
}

void TestCommandSet::alarmRele()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, relay);
    QFETCH(int, onTime);
    QFETCH(int, period);
    const command::AlarmRele rele = command::alarmRele(reply);
    QCOMPARE(rele.relay, relay);
    QCOMPARE(rele.onTime, onTime);
    QCOMPARE(rele.period, period);
}

void TestCommandSet::readers()
{
    // Status of board 3 from 05 00 00 11: alarm and tamper; board 4 of a two-byte reply: 0.
    QCOMPARE(command::statusByte(QByteArray::fromHex("05000011"), 3), 0x11);
    QCOMPARE(command::statusByte(QByteArray::fromHex("0500"), 4), 0);
    // No input board selected: the status poll reads byte 0.
    QCOMPARE(command::statusByte(QByteArray::fromHex("EC00"), 0), 0xEC);
    QCOMPARE(command::unitAddress(QByteArray::fromHex("00C8")), 200);
    QCOMPARE(command::versionMajor(QByteArray::fromHex("00020F")), 2);
    QCOMPARE(command::versionMinor(QByteArray::fromHex("00020F")), 15);
    QCOMPARE(command::versionMinor(QByteArray::fromHex("0002")), 0);
    QCOMPARE(command::currentValue(QByteArray::fromHex("00FFFF")), 65535);
    QCOMPARE(command::currentValue(QByteArray::fromHex("0034")), 0x34);
}

QTEST_APPLESS_MAIN(TestCommandSet)
#include "tst_commandset.moc"
