#include "commandcodes.h"
#include "requestassembler.h"
#include "requestframe.h"
#include "simunit.h"

#include <QTest>

Q_DECLARE_METATYPE(RequestFrame::Status)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A reply payload as the unit sends it: the bytes and their 8-bit sum.
QByteArray withCheck(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char b : bytes)
        sum = quint8(sum + quint8(b));
    return bytes + char(sum);
}

// Address 7; input boards at 1 and 4, relay boards at 2 and 3; board 1 in alarm and
// switching relay 2 for 300 s every 120 s, board 4 in fault.
UnitState testState()
{
    UnitState s;
    s.address = 7;
    s.boardMap = 0x69;
    s.versionMajor = 1;
    s.versionMinor = 5;
    s.status = {0x01, 0x00, 0x00, 0x02};
    s.value = {0x1234, 0, 0, 0xFFFF};
    s.alarmRelay[0] = {2, 300, 120};
    return s;
}

} // namespace

class TestSimUnit : public QObject
{
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void tamperMarksInputBoardsOnly();
    void writesReadBack_data();
    void writesReadBack();
    void switchTogglesRelay();
    void requestFrames_data();
    void requestFrames();
    void assemblerFindsInterleavedFrames();
    void assemblerEndsOverlongFrames();
};

void TestSimUnit::replies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // empty: the unit stays silent

    QTest::newRow("status: byte n is board n") << hex("070401") << withCheck(hex("0001000002"));
    QTest::newRow("status of board 4") << hex("070404") << withCheck(hex("0001000002"));
    QTest::newRow("status, no board chosen") << hex("070400") << withCheck(hex("0001000002"));
    QTest::newRow("boards: byte 1 map") << hex("0705") << withCheck(hex("0769"));
    QTest::newRow("alarm relay: bytes 6..10") << hex("070B01")
                                              << withCheck(hex("0701010134120"
                                                               "22C017800"));
    QTest::newRow("alarm relay of unassigned board") << hex("070B04")
                                                     << withCheck(hex("070401"
                                                                      "02FFFF"
                                                                      "0000000000"));
    QTest::newRow("alarm relay of no position") << hex("070B09")
                                                << withCheck(hex("07"
                                                                 "00000000000000000000"));
    QTest::newRow("address: byte 1") << hex("0020") << withCheck(hex("0707"));
    QTest::newRow("version: bytes 1, 2") << hex("0726") << withCheck(hex("070105"));
    QTest::newRow("value: low byte first") << hex("072901") << withCheck(hex("073412"));
    QTest::newRow("value 65535") << hex("072904") << withCheck(hex("07FFFF"));
    QTest::newRow("value of no position") << hex("072900") << withCheck(hex("070000"));
    QTest::newRow("set type: done") << hex("072C0402") << withCheck(hex("072C00"));
    QTest::newRow("set type: unknown code") << hex("072C0404") << withCheck(hex("072C01"));
    QTest::newRow("set alarm relay: done") << hex("072D01022C013C00") << withCheck(hex("072D00"));
    QTest::newRow("set alarm relay: no position")
        << hex("072D05022C013C00") << withCheck(hex("072D01"));
    QTest::newRow("switch relay board") << hex("072E02") << withCheck(hex("072E00"));
    QTest::newRow("switch an input board") << hex("072E01") << withCheck(hex("072E01"));
    QTest::newRow("address 0 is answered") << hex("0005") << withCheck(hex("0769"));
    QTest::newRow("another address") << hex("0805") << QByteArray();
    QTest::newRow("address 255") << hex("FF26") << QByteArray();
    QTest::newRow("unknown command") << hex("0706") << QByteArray();
    QTest::newRow("too short") << hex("0704") << QByteArray();
    QTest::newRow("too long") << hex("070500") << QByteArray();
    QTest::newRow("one byte") << hex("07") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestSimUnit::replies()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    SimUnit unit(testState());
    const std::optional<QByteArray> got = unit.handleRequest(request);
    QCOMPARE(got.has_value(), !reply.isEmpty());
    if (got)
        QCOMPARE(got->toHex(' '), reply.toHex(' '));
}

void TestSimUnit::tamperMarksInputBoardsOnly()
{
    UnitState s = testState();
    s.status = {0x01, 0x02, 0x00, 0x00};
    s.caseOpen = true;
    SimUnit unit(s);
    QCOMPARE(unit.handleRequest(hex("070401"))->toHex(' '),
             withCheck(hex("0011020010")).toHex(' '));
    unit.modify([](UnitState &u) { u.caseOpen = false; });
    QCOMPARE(unit.handleRequest(hex("070401"))->toHex(' '),
             withCheck(hex("0001020000")).toHex(' '));
}

void TestSimUnit::writesReadBack_data()
{
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("readBack");

    QTest::newRow("alarm relay of board 4") << hex("072D04032C013C00") << hex("070B04")
                                            << withCheck(hex("070401"
                                                             "02FFFF"
                                                             "032C013C00"));
    QTest::newRow("alarm relay cleared") << hex("072D0100000000") + hex("00") << hex("070B01")
                                         << withCheck(hex("070101"
                                                          "013412"
                                                          "0000000000"));
    QTest::newRow("position 4 becomes a relay board")
        << hex("072C0402") << hex("0705") << withCheck(hex("07A9"));
    QTest::newRow("position 2 emptied") << hex("072C0200") << hex("0705") << withCheck(hex("0761"));
    QTest::newRow("refused type changes nothing")
        << hex("072C0207") << hex("0705") << withCheck(hex("0769"));
    QTest::newRow("write to address 0") << hex("002C0301") << hex("0005") << withCheck(hex("0759"));
}

void TestSimUnit::writesReadBack()
{
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, readBack);
    SimUnit unit(testState());
    QVERIFY(unit.handleRequest(write).has_value());
    QCOMPARE(unit.handleRequest(read)->toHex(' '), readBack.toHex(' '));
}

void TestSimUnit::switchTogglesRelay()
{
    SimUnit unit(testState());
    unit.handleRequest(hex("072E03"));
    QVERIFY(unit.state().relayOn[2]);
    QVERIFY(!unit.state().relayOn[1]);
    unit.handleRequest(hex("072E03"));
    QVERIFY(!unit.state().relayOn[2]);
    unit.handleRequest(hex("082E03")); // another unit's request
    QVERIFY(!unit.state().relayOn[2]);
}

void TestSimUnit::requestFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<RequestFrame::Status>("status");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("good") << QByteArray("$07050C\r") << RequestFrame::Good << hex("0705");
    QTest::newRow("lower-case digits")
        << QByteArray("$0a2d37\r") << RequestFrame::Good << hex("0A2D");
    QTest::newRow("check byte wraps")
        << QByteArray("$FF0504\r") << RequestFrame::Good << hex("FF05");
    QTest::newRow("only a check byte") << QByteArray("$00\r") << RequestFrame::Good << QByteArray();
    QTest::newRow("wrong check byte")
        << QByteArray("$07050D\r") << RequestFrame::BadCheck << hex("0705");
    QTest::newRow("odd digit count")
        << QByteArray("$07050\r") << RequestFrame::Malformed << QByteArray();
    QTest::newRow("bad digit") << QByteArray("$07G50C\r") << RequestFrame::Malformed
                               << QByteArray();
    QTest::newRow("no digits") << QByteArray("$\r") << RequestFrame::Malformed << QByteArray();
    QTest::newRow("no carriage return")
        << QByteArray("$07050C") << RequestFrame::Malformed << QByteArray();
    QTest::newRow("reply start") << QByteArray("!07050C\r") << RequestFrame::Malformed
                                 << QByteArray();
}

void TestSimUnit::requestFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(RequestFrame::Status, status);
    QFETCH(QByteArray, payload);
    const RequestFrame got = decodeRequestFrame(frame);
    QCOMPARE(got.status, status);
    QCOMPARE(got.payload, payload);
}

void TestSimUnit::assemblerFindsInterleavedFrames()
{
    RequestAssembler assembler;
    QList<RequestAssembler::Piece> pieces = assembler.feed("xx$0705");
    QVERIFY(pieces.isEmpty());
    QVERIFY(assembler.sawStart());
    pieces = assembler.feed("$0726");
    QCOMPARE(pieces.size(), 1);
    QCOMPARE(pieces[0].raw, QByteArray("$0705"));
    QVERIFY(pieces[0].interleaved);
    pieces = assembler.feed("2D\r$07050C\ryy");
    QCOMPARE(pieces.size(), 2);
    QCOMPARE(pieces[0].raw, QByteArray("$07262D\r"));
    QVERIFY(pieces[0].complete && !pieces[0].interleaved);
    QCOMPARE(pieces[1].raw, QByteArray("$07050C\r"));
    QCOMPARE(assembler.strayBytes(), 4);
    QVERIFY(assembler.feed("zz").isEmpty());
    QVERIFY(!assembler.sawStart());
}

void TestSimUnit::assemblerEndsOverlongFrames()
{
    RequestAssembler assembler;
    const QList<RequestAssembler::Piece> pieces =
        assembler.feed('$' + QByteArray(RequestAssembler::maxFrameBytes + 10, '0'));
    QCOMPARE(pieces.size(), 1);
    QCOMPARE(pieces[0].raw.size(), RequestAssembler::maxFrameBytes);
    QVERIFY(!pieces[0].complete);
    QCOMPARE(assembler.strayBytes(), 11);
}

QTEST_APPLESS_MAIN(TestSimUnit)
#include "tst_simunit.moc"
