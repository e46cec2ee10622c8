// The exchange worker on a hostile line: the peer answers with random bytes, random lengths
// and random chunking, for a while. Whatever comes, every exchange ends with one of the
// codes callers know, within the worker's budget, its buffer keeps its contract, only whole
// request frames go out, and two workers on one port never interleave them.
//
// The run is seeded: VERTAL_SEED replays one, VERTAL_HOSTILE_SECONDS sets its length.
#include "ccomport.h"
#include "exchangeresult.h"
#include "exchangetiming.h"
#include "framecodec.h"
#include "hostileanswer.h"
#include "rawclient.h"
#include "runsettings.h"
#include "scriptedpeer.h"
#include "serialport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <memory>
#include <random>

namespace {

// Every attempt with its counted polls and at most one poll extended per reply byte up to
// where the worker cuts a babbler off, plus slack for a loaded machine. A loose bound on a
// hang, not a timing figure.
constexpr qint64 exchangeBudgetMs =
    exchangeTiming::sends *
        (exchangeTiming::countedPollsPerAttempt + exchangeTiming::maxReplySize + 1) *
        exchangeTiming::pollInterval.count() +
    10000;

// True if `line` is nothing but whole copies of the frames in `frames`, back to back.
bool onlyWholeFrames(QByteArray line, const QList<QByteArray> &frames)
{
    while (!line.isEmpty()) {
        bool matched = false;
        for (const QByteArray &frame : frames) {
            if (line.startsWith(frame)) {
                line.remove(0, frame.size());
                matched = true;
                break;
            }
        }
        if (!matched)
            return false;
    }
    return true;
}

// Every byte the peer has sent so far, lower case, for finding a decoded reply in it.
QByteArray sentLower(const ScriptedPeer &peer)
{
    QByteArray all;
    for (const ScriptedPeer::Event &event : peer.events())
        if (event.kind == ScriptedPeer::Event::Sent)
            all += event.bytes;
    return all.toLower();
}

// One worker pair on one hostile peer; rebuilt after the peer hangs up.
struct Line
{
    std::unique_ptr<ScriptedPeer> peer;
    std::unique_ptr<cComPort> owner;
    std::unique_ptr<cComPort> sharer;
    std::shared_ptr<HostileAnswer> hostile;

    Line(quint32 seed, int hangUpPermille)
        : peer(std::make_unique<ScriptedPeer>()),
          hostile(std::make_shared<HostileAnswer>(seed, hangUpPermille))
    {
        // The generator is used on the peer's thread only.
        auto answers = hostile;
        peer->setScript([answers](int, const QByteArray &) { return answers->next(); });
        owner = std::make_unique<cComPort>(peer->slavePath());
        sharer = std::make_unique<cComPort>(owner->serialPort());
    }
    ~Line()
    {
        sharer.reset(); // it uses the owner's port
        owner.reset();
        peer.reset();
    }
};

} // namespace

class TestHostileLink : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void randomReplies();
    void twoWorkersOnARandomLine();

private:
    void checkOutcome(const ScriptedPeer &peer, const QByteArray &request, int result,
                      const QByteArray &buffer, qint64 elapsedMs);
    quint32 seed = 0;
    int seconds = 0;
};

void TestHostileLink::initTestCase()
{
    seed = runSeed();
    seconds = runSeconds("VERTAL_HOSTILE_SECONDS", 8);
    qInfo("hostile line: seed %u (VERTAL_SEED=%u replays it), %d s per case", seed, seed, seconds);
}

// What any exchange on a hostile line may end with, and what its buffer then holds.
void TestHostileLink::checkOutcome(const ScriptedPeer &peer, const QByteArray &request, int result,
                                   const QByteArray &buffer, qint64 elapsedMs)
{
    QVERIFY2(elapsedMs < exchangeBudgetMs, qPrintable(QString::number(elapsedMs)));
    QCOMPARE(linkBusy.load(), 0);
    switch (result) {
    case Ok: {
        // The reply is one the unit really sent, with its digits in either case.
        const QByteArray frame = '!' + buffer.toHex() + '\r';
        QTRY_VERIFY_WITH_TIMEOUT(sentLower(peer).contains(frame), 2000);
        break;
    }
    case NoEnd: // only a NUL byte can hide the carriage return of a complete frame
        QVERIFY(buffer.startsWith('!'));
        QVERIFY(buffer.contains('\0'));
        QVERIFY(buffer.endsWith('\r'));
        break;
    case OddLength:
        QVERIFY(buffer.startsWith('!'));
        QVERIFY(buffer.endsWith('\r') || buffer.contains('\0'));
        break;
    case BadHighDigit:
    case BadLowDigit:
        QVERIFY(buffer.size() < exchangeTiming::maxReplySize);
        break;
    case NoReply:
        // What the last attempt collected (nothing or an unfinished frame), or the request
        // untouched when the line had gone before anything was heard.
        if (buffer != request) {
            QVERIFY(buffer.isEmpty() || buffer.startsWith('!'));
            QVERIFY(buffer.isEmpty() || !buffer.endsWith('\r'));
        }
        break;
    default:
        QFAIL(qPrintable(QStringLiteral("result %1 is no code an exchange returns").arg(result)));
    }
}

// One worker, one request after another, for a while.
void TestHostileLink::randomReplies()
{
    std::mt19937 rng(seed);
    auto line = std::make_unique<Line>(seed + 1, 0);
    const QByteArray request = QByteArray::fromHex("0126");
    int exchanges = 0;
    int ok = 0;
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000) {
        QByteArray buffer = request;
        QElapsedTimer clock;
        clock.start();
        const int result =
            line->owner->exchange(buffer, std::uniform_int_distribution<>(0, 15)(rng) == 0);
        checkOutcome(*line->peer, request, result, buffer, clock.elapsed());
        if (QTest::currentTestFailed())
            return;
        ++exchanges;
        ok += result == Ok;
    }
    QVERIFY(onlyWholeFrames(line->peer->line(), {requestFrame(request)}));
    qInfo("hostile line, one worker: %d exchanges, %d ok, %lld frames sent, seed %u", exchanges, ok,
          qint64(line->peer->requests().size()), seed);
    QVERIFY(exchanges > 0);
}

// The window's pattern: the owner's exchange runs, and in its waits a timer starts the
// sharer's exchange (the status poll) or tries a second exchange on the owner. Now and then
// the line hangs up and a new one is made.
void TestHostileLink::twoWorkersOnARandomLine()
{
    std::mt19937 rng(seed + 2);
    auto pick = [&rng](int low, int high) {
        return std::uniform_int_distribution<>(low, high)(rng);
    };
    const QByteArray ownerRequest = QByteArray::fromHex("0105");
    const QByteArray sharerRequest = QByteArray::fromHex("010401");
    const QList<QByteArray> frames{requestFrame(ownerRequest), requestFrame(sharerRequest)};
    auto line = std::make_unique<Line>(seed + 3, 30);
    int exchanges = 0, nested = 0, refused = 0, lines = 1;
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000) {
        if (line->owner->serialPort()->isGone()) {
            QVERIFY(onlyWholeFrames(line->peer->line(), frames));
            line = std::make_unique<Line>(seed + 3 + quint32(++lines), 30);
        }
        QTimer nestedStart;
        nestedStart.setSingleShot(true);
        connect(&nestedStart, &QTimer::timeout, this, [&] {
            if (pick(0, 4) == 0) {
                // A second exchange on a worker in flight is refused, its buffer untouched.
                QByteArray again = ownerRequest;
                const int refusedBefore = cComPort::exchangesRefused();
                QCOMPARE(line->owner->exchange(again, false), int(NoReply));
                QCOMPARE(again, ownerRequest);
                QCOMPARE(cComPort::exchangesRefused(), refusedBefore + 1);
                ++refused;
                return;
            }
            QByteArray buffer = sharerRequest;
            QElapsedTimer clock;
            clock.start();
            const int result = line->sharer->exchange(buffer, false);
            checkOutcome(*line->peer, sharerRequest, result, buffer, clock.elapsed());
            ++nested;
        });
        nestedStart.start(pick(0, 400));
        QByteArray buffer = ownerRequest;
        QElapsedTimer clock;
        clock.start();
        const int result = line->owner->exchange(buffer, false);
        checkOutcome(*line->peer, ownerRequest, result, buffer, clock.elapsed());
        QTRY_VERIFY(!line->sharer->isExchanging()); // a nested exchange may outlast ours
        nestedStart.stop();
        if (QTest::currentTestFailed())
            return;
        ++exchanges;
    }
    QVERIFY(onlyWholeFrames(line->peer->line(), frames));
    qInfo("hostile line, two workers: %d exchanges, %d nested, %d refused, %d lines, seed %u",
          exchanges, nested, refused, lines, seed);
}

QTEST_MAIN(TestHostileLink)
#include "tst_hostilelink.moc"
