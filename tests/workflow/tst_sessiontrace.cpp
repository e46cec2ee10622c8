// The frames of one whole session on the line, compared with the ones recorded in
// golden/session.trace: a search with address 0 (tried first at 9600), status ticks, a
// tamper re-read, a refused and an accepted relay write, a relay switched by hand and the
// value dialog. Time stamps and the device's name are left out; a run of identical
// exchanges (ticks, sends again after silence) counts as one, since how many fit between
// two clicks is the clock's business.
//
// VERTAL_WRITE_GOLDEN=<file> writes the trace of this run there instead of comparing.

#include "commandcodes.h"
#include "startoptions.h"
#include "tracefile.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QAbstractButton>
#include <QDialog>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Header and frame lines without stamps or device; pieces of one reply joined; each
// frame sent with the reply that followed it; repeats of the exchange before dropped.
QStringList normalised(const QStringList &lines)
{
    static const QRegularExpression header("^# \\S+ \\S+ port \\S+ (speed \\d+ address \\d+) at ");
    static const QRegularExpression frame("^\\S+ \\S+ (out|in) (.*)$");
    QStringList exchanges;
    QString current;
    auto close = [&] {
        if (!current.isEmpty() && (exchanges.isEmpty() || exchanges.last() != current))
            exchanges << current;
        current.clear();
    };
    for (const QString &line : lines) {
        const auto h = header.match(line);
        if (h.hasMatch()) {
            close();
            exchanges << "# " + h.captured(1);
            continue;
        }
        const auto f = frame.match(line);
        if (!f.hasMatch()) {
            close();
            exchanges << "? " + line;
        } else if (f.captured(1) == "out") {
            close();
            current = "out " + f.captured(2) + " in ";
        } else {
            current += f.captured(2);
        }
    }
    close();
    return exchanges;
}

} // namespace

class TestSessionTrace : public QObject
{
    Q_OBJECT
private slots:
    void framesOfOneSession();
};

void TestSessionTrace::framesOfOneSession()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trace.txt");
    FrameTrace trace;
    QVERIFY(installTrace(trace, path));
    UnitState state = UnitBench::defaultUnit();
    state.alarmRelay[0] = {2, 30, 5};
    {
        UnitBench bench(state);
        QVERIFY(bench.isReady());
        StartOptions options;
        options.speed = 9600;
        bench.window->applyStartOptions(options);
        QVERIFY(bench.connectUnit(0));
        QVERIFY(bench.waitForTicks(2));

        // The case opened and closed again: the unit is re-read after the settle wait.
        bench.unit.modify([](UnitState &s) { s.caseOpen = true; });
        QVERIFY(bench.waitForTicks(2));
        bench.clearRequests();
        bench.unit.modify([](UnitState &s) { s.caseOpen = false; });
        QVERIFY(bench.waitForRequest(CMD_READ_ALARM_RELE, 5000));
        QVERIFY(bench.waitUntil([&] { return bench.window->isPolling(); }));
        QVERIFY(bench.waitForTicks(1));

        // An on-time not above the period is refused before anything goes out.
        bench.control<QSpinBox>("a_time")->setValue(5);
        bench.control<QSpinBox>("a_period")->setValue(10);
        bench.click("set_rele");
        bench.control<QSpinBox>("a_time")->setValue(40);
        bench.control<QSpinBox>("a_period")->setValue(6);
        bench.click("set_rele");
        QVERIFY(bench.waitForTicks(1));
        bench.click("reset_rele");
        QVERIFY(bench.waitForTicks(1));

        bench.clearRequests();
        bench.when([] { return openValueDialog() != nullptr; },
                   [&] {
                       QDialog *dialog = openValueDialog();
                       bench.waitUntil(
                           [&] { return bench.requestsFor(CMD_READ_VALUE).size() >= 2; });
                       dialog->findChild<QAbstractButton *>(QStringLiteral("done"))->click();
                   });
        bench.click("current_value");
        QVERIFY(bench.waitForTicks(1));
        bench.click("start");
        QVERIFY(looksIdle(bench));
        QCOMPARE(bench.watcher.boxes().size(), 1);
        QCOMPARE(bench.watcher.boxes().first().text,
                 QStringLiteral("Время меньше или равно периоду !"));
    }
    FrameTrace::install(nullptr);

    QStringList lines;
    QVERIFY(readTraceLines(path, lines));
    const QStringList seen = normalised(lines);
    const QString out = qEnvironmentVariable("VERTAL_WRITE_GOLDEN");
    if (!out.isEmpty()) {
        QFile file(out);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
        file.write(seen.join('\n').toUtf8() + '\n');
        return;
    }
    QStringList golden;
    QVERIFY(readTraceLines(QStringLiteral(VERTAL_GOLDEN_DIR "/session.trace"), golden));
    if (seen != golden)
        qWarning().noquote() << "this run:\n" + seen.join('\n');
    QCOMPARE(seen, golden);
}

QTEST_MAIN(TestSessionTrace)
#include "tst_sessiontrace.moc"
