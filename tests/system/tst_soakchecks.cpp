// The soak's checks catch what they are there for: bad frames on the line, a poll where
// none may run, a message that is not the window's, contents that are not the unit's.
#include "soakchecks.h"
#include "soakrig.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

class TestSoakChecks : public QObject
{
    Q_OBJECT
private slots:
    void idleWindowPasses();
    void badFrames_data();
    void badFrames();
    void pollWhileIdle();
    void foreignMessage();
    void contentsOfAConnection();
    void halfEndedConnection();
};

void TestSoakChecks::idleWindowPasses()
{
    SoakRig rig;
    QVERIFY(rig.isReady());
    SoakChecks checks(rig);
    checks.afterStep(true);
    QCOMPARE(checks.violations(), 0);
    QCOMPARE(checks.quietChecks(), 1);
}

// Bytes written on the wizard's side of the line, as a faulty wizard would.
void TestSoakChecks::badFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("violations");
    QTest::newRow("good") << QByteArray("$012627\r") << 0;
    QTest::newRow("wrong check byte") << QByteArray("$012628\r") << 1;
    QTest::newRow("not hex") << QByteArray("$01G627\r") << 1;
    QTest::newRow("interleaved") << QByteArray("$0126$012627\r") << 1;
}

void TestSoakChecks::badFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, violations);
    SoakRig rig;
    QVERIFY(rig.isReady());
    SoakChecks checks(rig);
    const int fd = ::open(qPrintable(rig.server.devicePath()), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    QVERIFY(rig.server.waitForFrames(bytes.count('$'), 5000));
    ::close(fd);
    checks.afterStep(false);
    QCOMPARE(checks.violations(), violations);
    QCOMPARE(checks.framesChecked(), int(bytes.count('$')));
}

void TestSoakChecks::pollWhileIdle()
{
    SoakRig rig;
    SoakChecks checks(rig);
    rig.window->startPoll();
    checks.afterStep(false);
    QCOMPARE(checks.violations(), 2); // "Старт" on the button, no poll worker
    rig.window->stopPoll();
}

void TestSoakChecks::foreignMessage()
{
    SoakRig rig;
    SoakChecks checks(rig);
    checks.boxSeen(QStringLiteral("ВЕРТАЛ-КП"), QStringLiteral("Ошибка обмена !"));
    QCOMPARE(checks.violations(), 0);
    checks.boxSeen(QStringLiteral("ВЕРТАЛ-КП"), QStringLiteral("Ошибка обмена!"));
    checks.boxSeen(QStringLiteral("Qt"), QStringLiteral("Ошибка обмена !"));
    QCOMPARE(checks.violations(), 2);
    QCOMPARE(checks.boxesSeen(), 3);
}

// Connected to the unit, the window shows its boards and version; once the unit is
// another, that is a violation while replies are trusted and a counted difference after
// faults.
void TestSoakChecks::contentsOfAConnection()
{
    SoakRig rig;
    SoakChecks checks(rig);
    QTest::mouseClick(rig.control<QPushButton>("start"), Qt::LeftButton);
    QCOMPARE(rig.startText(), QStringLiteral("Стоп"));
    checks.afterStep(true);
    QCOMPARE(checks.violations(), 0);
    QCOMPARE(checks.contentsJudged(), 1);

    rig.unit.modify([](UnitState &s) { s.versionMinor = 6; });
    checks.setRepliesTrusted(false);
    checks.afterStep(true);
    QCOMPARE(checks.violations(), 0);
    QCOMPARE(checks.contentsDiffering(), 1);
    checks.setRepliesTrusted(true);
    checks.afterStep(true);
    QCOMPARE(checks.violations(), 1);
}

// "Стоп" with the poll stopped: seen once, it may be a failed exchange caught between
// releasing the connection and its box; seen at two calm steps in a row, it is stuck.
void TestSoakChecks::halfEndedConnection()
{
    SoakRig rig;
    SoakChecks checks(rig);
    QTest::mouseClick(rig.control<QPushButton>("start"), Qt::LeftButton);
    QCOMPARE(rig.startText(), QStringLiteral("Стоп"));
    rig.window->stopPoll();
    checks.afterStep(true);
    QCOMPARE(checks.violations(), 0);
    rig.window->startPoll(); // put right before the next calm step
    checks.afterStep(true);
    rig.window->stopPoll();
    checks.afterStep(true);
    QCOMPARE(checks.violations(), 0);
    checks.afterStep(true);
    QCOMPARE(checks.violations(), 1);
    QCOMPARE(checks.firstViolations(),
             QStringList{QStringLiteral("\"Стоп\" shown, nothing going on, yet no poll")});
}

QTEST_MAIN(TestSoakChecks)
#include "tst_soakchecks.moc"
