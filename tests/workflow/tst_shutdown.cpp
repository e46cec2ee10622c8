// Closing the window in the middle of an exchange ends the program cleanly. Quitting ends
// every nested event loop, so this runs in a child process: the test program starts itself
// in the mode "close" with the moment, which plays the program's own main() with the window
// connected to the simulated unit and closes the window at that moment.

#include "childrun.h"
#include "commandcodes.h"
#include "unitbench.h"

#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace {

void answerLate(UnitBench &bench, int ms, FaultKind kind = FaultKind::Delay)
{
    Fault late;
    late.kind = kind;
    late.delayMs = ms;
    late.sticky = true;
    bench.server.injectFault(late);
}

// Sets the scene for `moment`; returns the condition on which the window is closed.
std::function<bool()> prepare(UnitBench &bench, const QString &moment)
{
    auto clickSoon = [&bench](const char *button) {
        QTimer::singleShot(0, &bench, [&bench, button] { bench.click(button); });
    };
    if (moment == QLatin1String("scan")) {
        bench.unit.modify([](UnitState &s) { s.lineSpeed = 9600; });
        clickSoon("start");
        return [&bench] { return bench.portExchanging() && !bench.requests().isEmpty(); };
    }
    if (moment == QLatin1String("search")) {
        answerLate(bench, 200);
        clickSoon("start");
        return [&bench] { return !bench.requestsFor(CMD_READ_VERSION).isEmpty(); };
    }
    if (!bench.connectUnit(1))
        return {};
    bench.clearRequests();
    if (moment == QLatin1String("tick") || moment == QLatin1String("silent tick")) {
        if (moment == QLatin1String("tick"))
            answerLate(bench, 200);
        else
            answerLate(bench, 0, FaultKind::NoAnswer);
        return [&bench] {
            return bench.pollExchanging() && !bench.requestsFor(CMD_READ_STATUS).isEmpty();
        };
    }
    if (moment == QLatin1String("write")) {
        bench.control<QSpinBox>("a_period")->setValue(5);
        answerLate(bench, 200);
        clickSoon("set_rele");
        // Once the write is on the line: the worker thread sends it a moment after the
        // exchange has begun.
        return [&bench] {
            return bench.portExchanging() && !bench.requestsFor(CMD_SET_ALARM_RELE).isEmpty();
        };
    }
    if (moment == QLatin1String("settle")) {
        bench.unit.modify([](UnitState &s) { s.caseOpen = true; });
        bench.waitForTicks(1);
        bench.unit.modify([](UnitState &s) { s.caseOpen = false; });
        bench.clearRequests();
        return [&bench] {
            return !bench.requestsFor(CMD_READ_STATUS).isEmpty() && !bench.pollExchanging();
        };
    }
    return {};
}

// The child: main() of the program with the window closed at `moment`. Prints what
// happened after the close for the parent to check.
int runChild(int argc, char **argv)
{
    const QString moment = childArguments(argc, argv).value(0);
    QApplication app(argc, argv);
    int rc = 0;
    {
        UnitBench bench;
        if (!bench.isReady())
            return 3;
        const auto closeWhen = prepare(bench, moment);
        if (!closeWhen)
            return 4;
        qsizetype requestsAtClose = -1;
        qsizetype boxesAtClose = -1;
        bench.when(closeWhen, [&] {
            requestsAtClose = bench.requests().size();
            boxesAtClose = bench.watcher.boxes().size();
            bench.window->close();
        });
        // Should the moment never come, end anyway and say so (the parent then fails).
        QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(5); });
        rc = app.exec();
        reportToParent("closed", QString::number(requestsAtClose >= 0 ? 1 : 0));
        reportToParent("boxesAfterClose",
                       QString::number(bench.watcher.boxes().size() - boxesAtClose));
        reportToParent("requestsAfterClose",
                       QString::number(bench.requests().size() - requestsAtClose));
    } // the window goes before the application, as in main()
    reportToParent("cleanExit", QString::number(rc));
    return rc;
}

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT
private slots:
    void closeDuringExchange_data();
    void closeDuringExchange();
};

void TestShutdown::closeDuringExchange_data()
{
    QTest::addColumn<QString>("moment");
    // The exchange in flight is stopped with the connection: at most the copy that was on
    // its way goes out.
    QTest::addColumn<int>("maxRequestsAfter");
    QTest::newRow("during the speed scan") << "scan" << 1;
    QTest::newRow("during the search's version request") << "search" << 0;
    QTest::newRow("during a status tick") << "tick" << 0;
    QTest::newRow("during a tick the unit never answers") << "silent tick" << 1;
    QTest::newRow("during a relay write") << "write" << 0;
    QTest::newRow("during the settle wait") << "settle" << 0;
}

void TestShutdown::closeDuringExchange()
{
    QFETCH(QString, moment);
    QFETCH(int, maxRequestsAfter);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const ChildRun run = runSelfAsChild(QStringLiteral("close"), {moment}, 40000, env);
    QVERIFY(run.finished);
    QVERIFY2(run.exitStatus == QProcess::NormalExit, qPrintable(run.err));
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.value("closed") == QLatin1String("1"), qPrintable(run.out));
    QVERIFY2(run.value("boxesAfterClose") == QLatin1String("0"), qPrintable(run.out));
    QVERIFY2(run.value("cleanExit") == QLatin1String("0"), qPrintable(run.out));
    QVERIFY(run.has("requestsAfterClose"));
    QVERIFY2(run.value("requestsAfterClose").toInt() <= maxRequestsAfter, qPrintable(run.out));
}

int main(int argc, char **argv)
{
    if (childMode() == QLatin1String("close"))
        return runChild(argc, argv);
    QApplication app(argc, argv);
    TestShutdown test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shutdown.moc"
