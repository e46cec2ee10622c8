// The values the unit may be sent and what a board map holds: the rules the window and
// the console program both follow.

#include "boardlist.h"
#include "commandcodes.h"
#include "valuerules.h"

#include <QTest>

class TestValueRules : public QObject
{
    Q_OBJECT
private slots:
    void limits();
    void onTimeAbovePeriod_data();
    void onTimeAbovePeriod();
    void relayNumber_data();
    void relayNumber();
    void boardLists_data();
    void boardLists();
    void positionsOfAMap();
};

void TestValueRules::limits()
{
    QVERIFY(unit::onTimeInRange(0));
    QVERIFY(unit::onTimeInRange(300));
    QVERIFY(!unit::onTimeInRange(-1));
    QVERIFY(!unit::onTimeInRange(301));
    QVERIFY(unit::periodInRange(0));
    QVERIFY(unit::periodInRange(120));
    QVERIFY(!unit::periodInRange(-1));
    QVERIFY(!unit::periodInRange(121));
}

// "Время меньше или равно периоду !": an on-time above 0 not greater than the period.
void TestValueRules::onTimeAbovePeriod_data()
{
    QTest::addColumn<int>("onTime");
    QTest::addColumn<int>("period");
    QTest::addColumn<bool>("taken");
    QTest::newRow("both 0") << 0 << 0 << true;
    QTest::newRow("no on-time, a period") << 0 << 120 << true;
    QTest::newRow("below the period") << 5 << 10 << false;
    QTest::newRow("equal to it") << 10 << 10 << false;
    QTest::newRow("above it") << 11 << 10 << true;
    QTest::newRow("no period") << 300 << 0 << true;
}

void TestValueRules::onTimeAbovePeriod()
{
    QFETCH(int, onTime);
    QFETCH(int, period);
    QFETCH(bool, taken);
    QCOMPARE(unit::onTimeAbovePeriod(onTime, period), taken);
}

void TestValueRules::relayNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("relay");
    QTest::newRow("1") << "1" << true << 1;
    QTest::newRow("spaces") << " 4 " << true << 4;
    QTest::newRow("0") << "0" << false << 0;
    QTest::newRow("5") << "5" << false << 5;
    QTest::newRow("cut to 8 bits it would be 0x2C") << "300" << false << 300;
    QTest::newRow("text") << "Не задано" << false << 0;
}

void TestValueRules::relayNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, relay);
    int read = -1;
    QCOMPARE(unit::relayNumber(text, read), valid);
    QCOMPARE(read, relay);
}

void TestValueRules::boardLists_data()
{
    QTest::addColumn<int>("map");
    QTest::addColumn<QList<int>>("input");
    QTest::addColumn<QList<int>>("relay");
    QTest::addColumn<int>("mask");
    QTest::newRow("0x19") << 0x19 << QList<int>{1, 3} << QList<int>{2}
                          << (unit::inputBoardMask | unit::relayBoardMask);
    QTest::newRow("none") << 0x00 << QList<int>{} << QList<int>{} << 0;
    QTest::newRow("other kinds only") << 0xFF << QList<int>{} << QList<int>{} << 0;
    QTest::newRow("relays only") << 0x82 << QList<int>{} << QList<int>{1, 4}
                                 << unit::relayBoardMask;
    QTest::newRow("input only") << 0x40 << QList<int>{4} << QList<int>{} << unit::inputBoardMask;
}

void TestValueRules::boardLists()
{
    QFETCH(int, map);
    QFETCH(QList<int>, input);
    QFETCH(QList<int>, relay);
    QFETCH(int, mask);
    const unit::BoardLists lists = unit::boardLists(map);
    QCOMPARE(lists.input, input);
    QCOMPARE(lists.relay, relay);
    QCOMPARE(lists.mask(), mask);
    QCOMPARE(unit::firstInputBoard(map), input.isEmpty() ? 0 : input.first());
    for (int position = 1; position <= boardPositions; ++position)
        QCOMPARE(lists.kinds[position], (map >> (2 * (position - 1))) & 3);
}

void TestValueRules::positionsOfAMap()
{
    QVERIFY(unit::isRelayBoard(0x19, 2));
    QVERIFY(!unit::isRelayBoard(0x19, 1));
    QVERIFY(unit::isInputBoard(0x19, 3));
    QVERIFY(!unit::isInputBoard(0x19, 2));
    // No position beyond the four, whatever the map's bits say.
    QVERIFY(!unit::isRelayBoard(0x2AA, 5));
    QVERIFY(!unit::isInputBoard(0x155, 5));
    QVERIFY(!unit::isRelayBoard(0x22, 0));
    QVERIFY(!unit::isBoardPosition(0));
    QVERIFY(unit::isBoardPosition(4));
}

QTEST_GUILESS_MAIN(TestValueRules)
#include "tst_valuerules.moc"
