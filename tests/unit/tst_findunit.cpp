// The search as one sequence over a real worker on a scripted line: which speed it ends
// at, what each step asks, which step failed and why, and where the front end's hooks
// stop it.

#include "ccomport.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "linespeeds.h"
#include "scriptedpeer.h"
#include "termiosspeed.h"
#include "unitsearch.h"

#include <QTest>
#include <termios.h>

namespace {

// A reply frame: '!', the bytes in hex, their sum, carriage return.
QByteArray replyFrame(const QByteArray &bytes)
{
    int sum = 0;
    for (const char c : bytes)
        sum += quint8(c);
    return '!' + bytes.toHex().toUpper() + QByteArray(1, char(sum & 0xFF)).toHex().toUpper() + '\r';
}

// The unit at address 1 (map 0x19: input boards 1 and 3, relay board 2, firmware 1.5,
// input board 1's relay 2 for 30 s every 5 s), answering only at line speed `speed`.
ScriptedPeer::Answer unitAnswer(int masterFd, int speed, const QByteArray &request)
{
    termios settings{};
    if (tcgetattr(masterFd, &settings) != 0 || cfgetispeed(&settings) != termiosSpeed(speed))
        return ScriptedPeer::silence();
    const QByteArray payload = QByteArray::fromHex(request.mid(1, request.size() - 4));
    switch (command::replyByte(payload, 1)) {
    case 0x05:
        return ScriptedPeer::reply(replyFrame(QByteArray::fromHex("0119")));
    case 0x20:
        return ScriptedPeer::reply(replyFrame(QByteArray::fromHex("0101")));
    case 0x26:
        return ScriptedPeer::reply(replyFrame(QByteArray::fromHex("010105")));
    case 0x0B:
        return ScriptedPeer::reply(replyFrame(QByteArray::fromHex("010101000000021E000500")));
    }
    return ScriptedPeer::silence();
}

QList<QByteArray> payloads(const ScriptedPeer &peer)
{
    QList<QByteArray> list;
    for (const QByteArray &frame : peer.requests())
        list << QByteArray::fromHex(frame.mid(1, frame.size() - 4));
    return list;
}

} // namespace

class TestFindUnit : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void searchOrder_data();
    void searchOrder();
    void everyStepInTurn();
    void failedStepIsNamed_data();
    void failedStepIsNamed();
    void garbledSpeed_data();
    void garbledSpeed();
    void hooksStopTheSearch_data();
    void hooksStopTheSearch();
    void atTheLinesSpeed();
    void askingAgain();

private:
    unit::SearchHooks onceHooks();

    std::unique_ptr<ScriptedPeer> peer;
    std::unique_ptr<cComPort> port;
};

void TestFindUnit::init()
{
    peer = std::make_unique<ScriptedPeer>();
    port = std::make_unique<cComPort>(peer->slavePath());
    QVERIFY(!port->openFailed());
    port->setSendsPerExchange(1); // a silent speed costs one attempt
}

void TestFindUnit::cleanup()
{
    port.reset();
    peer.reset();
}

unit::SearchHooks TestFindUnit::onceHooks()
{
    unit::SearchHooks hooks;
    hooks.exchange = [this](QByteArray &payload) { return unit::exchangeOnce(*port, payload); };
    return hooks;
}

void TestFindUnit::searchOrder_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<QList<int>>("order");
    const QList<int> usual(unitLineSpeeds.begin(), unitLineSpeeds.end());
    QTest::newRow("none") << 0 << usual;
    QTest::newRow("not a unit speed") << 2400 << usual;
    QTest::newRow("4800") << 4800 << usual;
    QTest::newRow("57600") << 57600 << QList<int>{57600, 4800, 9600, 19200, 38400, 115200};
}

void TestFindUnit::searchOrder()
{
    QFETCH(int, first);
    QFETCH(QList<int>, order);
    QCOMPARE(unit::searchOrder(first), order);
}

// Address 0 given: the board request at each speed until the unit's (19200), then its
// address, its version from the address learnt, the first input board's relay; the port
// stays at 19200 and every step is shown in its order.
void TestFindUnit::everyStepInTurn()
{
    const int fd = peer->masterFd();
    peer->setScript([fd](int, const QByteArray &r) { return unitAnswer(fd, 19200, r); });
    unit::SearchPlan plan;
    plan.askAddress = true;
    plan.speeds = unit::searchOrder(0);
    plan.readAssignment = true;
    unit::SearchHooks hooks = onceHooks();
    QList<int> tried;
    hooks.beforeTry = [&](int index, int speed, int address) {
        tried << index << speed << address;
        return true;
    };
    QList<unit::SearchStep> shown;
    hooks.afterStep = [&](unit::FoundUnit &found) {
        shown << found.step;
        return true;
    };
    const unit::FoundUnit found = unit::findUnit(*port, plan, hooks);

    QCOMPARE(found.outcome, unit::SearchOutcome::Found);
    QVERIFY(found.answered);
    QCOMPARE(found.speed, 19200);
    QCOMPARE(found.address, 1);
    QCOMPARE(found.boardMap, 0x19);
    QCOMPARE(found.versionMajor, 1);
    QCOMPARE(found.versionMinor, 5);
    QCOMPARE(found.assignmentBoard, 1);
    QCOMPARE(found.result, int(Ok));
    QVERIFY(found.failedStep.isEmpty());
    QCOMPARE(tried, (QList<int>{0, 4800, 0, 1, 9600, 0, 2, 19200, 0}));
    QCOMPARE(shown,
             (QList<unit::SearchStep>{unit::SearchStep::Boards, unit::SearchStep::Address,
                                      unit::SearchStep::Version, unit::SearchStep::Assignment}));
    QCOMPARE(payloads(*peer),
             (QList<QByteArray>{QByteArray::fromHex("0005"), QByteArray::fromHex("0005"),
                                QByteArray::fromHex("0005"), QByteArray::fromHex("0020"),
                                QByteArray::fromHex("0126"), QByteArray::fromHex("010B01")}));
    termios settings{};
    QCOMPARE(tcgetattr(fd, &settings), 0);
    QCOMPARE(cfgetispeed(&settings), termiosSpeed(19200));
}

// The step after the board request that gets no reply is named, with its result; nothing
// is asked after it.
void TestFindUnit::failedStepIsNamed_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("silentCommand");
    QTest::addColumn<QByteArray>("step");
    QTest::addColumn<int>("requests");
    QTest::newRow("address") << 0 << 0x20 << QByteArray("address") << 2;
    QTest::newRow("version") << 1 << 0x26 << QByteArray("version") << 2;
    QTest::newRow("assignment") << 1 << 0x0B << QByteArray("assignment") << 3;
}

void TestFindUnit::failedStepIsNamed()
{
    QFETCH(int, address);
    QFETCH(int, silentCommand);
    QFETCH(QByteArray, step);
    QFETCH(int, requests);
    const int fd = peer->masterFd();
    peer->setScript([=](int, const QByteArray &r) {
        const QByteArray payload = QByteArray::fromHex(r.mid(1, r.size() - 4));
        return command::replyByte(payload, 1) == silentCommand ? ScriptedPeer::silence()
                                                         : unitAnswer(fd, 4800, r);
    });
    unit::SearchPlan plan;
    plan.address = address;
    plan.askAddress = address == 0;
    plan.speeds = {4800};
    plan.readAssignment = true;
    const unit::FoundUnit found = unit::findUnit(*port, plan, onceHooks());
    QCOMPARE(found.outcome, unit::SearchOutcome::StepFailed);
    QVERIFY(found.answered);
    QCOMPARE(found.failedStep, step);
    QCOMPARE(found.result, int(NoReply));
    QCOMPARE(peer->requests().size(), requests);
}

// Bytes that make no reply at a speed: the console program's search ends there (the unit
// is at that speed), the window's goes on to the next speed.
void TestFindUnit::garbledSpeed_data()
{
    QTest::addColumn<bool>("endAtGarbled");
    QTest::addColumn<int>("requests");
    QTest::newRow("ends there") << true << 1;
    QTest::newRow("goes on") << false << 2;
}

void TestFindUnit::garbledSpeed()
{
    QFETCH(bool, endAtGarbled);
    QFETCH(int, requests);
    peer->setScript([](int, const QByteArray &) { return ScriptedPeer::reply("!01G9\r"); });
    unit::SearchPlan plan;
    plan.address = 1;
    plan.speeds = {9600, 4800};
    plan.endAtGarbled = endAtGarbled;
    const unit::FoundUnit found = unit::findUnit(*port, plan, onceHooks());
    QCOMPARE(found.outcome, unit::SearchOutcome::NotFound);
    QVERIFY(!found.answered);
    QCOMPARE(found.garbledSpeed, endAtGarbled ? 9600 : 0);
    QCOMPARE(found.everyReplyGarbled, endAtGarbled);
    QCOMPARE(peer->requests().size(), requests);
}

// Each hook of the front end ends the search where it says so, and nothing more is sent.
void TestFindUnit::hooksStopTheSearch_data()
{
    QTest::addColumn<QString>("hook");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("requests");
    QTest::newRow("cancel before the second speed")
        << "beforeTry" << int(unit::SearchOutcome::Canceled) << 1;
    QTest::newRow("connection ended") << "ended" << int(unit::SearchOutcome::Ended) << 1;
    QTest::newRow("line gone") << "lineGone" << int(unit::SearchOutcome::LineGone) << 1;
    QTest::newRow("no boards to set up") << "afterStep" << int(unit::SearchOutcome::Stopped) << 2;
}

void TestFindUnit::hooksStopTheSearch()
{
    QFETCH(QString, hook);
    QFETCH(int, outcome);
    QFETCH(int, requests);
    const int fd = peer->masterFd();
    peer->setScript([fd](int, const QByteArray &r) { return unitAnswer(fd, 9600, r); });
    unit::SearchPlan plan;
    plan.address = 1;
    plan.speeds = {4800, 9600};
    unit::SearchHooks hooks = onceHooks();
    if (hook == "beforeTry")
        hooks.beforeTry = [](int index, int, int) { return index == 0; };
    if (hook == "ended")
        hooks.ended = [] { return true; };
    if (hook == "lineGone")
        hooks.lineGone = [] { return true; };
    if (hook == "afterStep")
        hooks.afterStep = [](unit::FoundUnit &f) { return f.step != unit::SearchStep::Boards; };
    const unit::FoundUnit found = unit::findUnit(*port, plan, hooks);
    QCOMPARE(int(found.outcome), outcome);
    QCOMPARE(peer->requests().size(), requests);
}

// The re-read: no speeds, the line left as it is; no reply to the board request is a
// failed step there, not a unit missing.
void TestFindUnit::atTheLinesSpeed()
{
    port->setBaudRate(38400);
    const int fd = peer->masterFd();
    peer->setScript([fd](int, const QByteArray &r) { return unitAnswer(fd, 38400, r); });
    unit::SearchPlan plan;
    plan.address = 1;
    unit::FoundUnit found = unit::findUnit(*port, plan, onceHooks());
    QCOMPARE(found.outcome, unit::SearchOutcome::Found);
    QCOMPARE(found.boardMap, 0x19);
    QCOMPARE(found.speed, 0);
    QCOMPARE(found.assignmentBoard, 0); // not asked for

    port->setBaudRate(4800);
    found = unit::findUnit(*port, plan, onceHooks());
    QCOMPARE(found.outcome, unit::SearchOutcome::StepFailed);
    QCOMPARE(found.failedStep, QByteArray("boards"));
    QCOMPARE(found.result, int(NoReply));
}

// Asked again while the reply comes garbled; a readable one ends it.
void TestFindUnit::askingAgain()
{
    peer->setScript([](int index, const QByteArray &) {
        return ScriptedPeer::reply(index < 2 ? "!01G9\r" : "!01191A\r");
    });
    QByteArray payload = QByteArray::fromHex("0105");
    const unit::Heard heard = unit::exchangeAskingAgain(*port, payload);
    QCOMPARE(heard.result, int(Ok));
    QCOMPARE(heard.exchanges, 3);
    QCOMPARE(heard.garbled, 2);
    QVERIFY(!heard.everyReplyGarbled());
    QCOMPARE(payload, QByteArray::fromHex("01191A"));
}

QTEST_GUILESS_MAIN(TestFindUnit)
#include "tst_findunit.moc"
