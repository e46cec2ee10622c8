// The soak: a seeded operator who never rests drives the real window against the simulated
// unit on a pseudo-terminal, while the unit's side injects every kind of line fault; the
// checks run after every step, and a watchdog fails the run if the GUI thread stops
// answering. Ends with one line of figures; exit code 0 only with no violation.
//
//   tst_soak [--seconds N] [--seed S]     (or VERTAL_SOAK_SECONDS, VERTAL_SEED;
//                                          VERTAL_SOAK_WATCHDOG_MS, default 5000)
#include "ccomport.h"
#include "guiwatchdog.h"
#include "runsettings.h"
#include "soakchecks.h"
#include "soakoperator.h"
#include "soakrig.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int defaultSeconds = 150;
constexpr int defaultWatchdogMs = 5000;
// Time the operator gets to close what is open and let the last operation end.
constexpr int windDownLimitMs = 60000;

int interfaceLines = 0;

// The window's "Interface <mask>" line comes with every input board change: counted, not
// printed. So is the offscreen platform's remark on every box. Everything else goes out.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && message.startsWith(QLatin1String("Interface "))) {
        ++interfaceLines;
        return;
    }
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

struct Options
{
    int seconds = defaultSeconds;
    quint32 seed = 0;
    int watchdogMs = defaultWatchdogMs;
};

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.addOption({"seconds", "Length of the run in seconds.", "N"});
    parser.addOption({"seed", "Seed of the operator (replays a run).", "S"});
    parser.process(app);
    Options options;
    bool ok = false;
    const QString seconds = parser.isSet("seconds") ? parser.value("seconds")
                                                    : qEnvironmentVariable("VERTAL_SOAK_SECONDS");
    if (const int s = seconds.toInt(&ok); ok && s > 0)
        options.seconds = s;
    options.seed = runSeed(parser.value("seed"));
    if (const int ms = qEnvironmentVariableIntValue("VERTAL_SOAK_WATCHDOG_MS", &ok); ok && ms > 0)
        options.watchdogMs = ms;
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false"));
    const Options options = parseOptions(app);
    std::printf("soak: %d s, seed %u (--seed %u replays it)\n", options.seconds, options.seed,
                options.seed);
    std::fflush(stdout);

    SoakRig rig;
    if (!rig.isReady()) {
        std::printf("soak: no simulated line: %s\n", qPrintable(rig.errorString()));
        return 1;
    }
    SoakChecks checks(rig);
    SoakOperator operatorAtWork(rig, checks, options.seed);
    GuiWatchdog watchdog{std::chrono::milliseconds(options.watchdogMs)};
    const quint32 seed = options.seed;
    watchdog.onHang = [seed](std::chrono::milliseconds silence) {
        std::printf("soak: FAILED: the GUI thread did not answer for %lld ms, seed %u\n",
                    qint64(silence.count()), seed);
        std::fflush(stdout);
    };

    bool woundDown = false;
    QElapsedTimer run;
    run.start();
    QTimer::singleShot(options.seconds * 1000, &app, [&] {
        operatorAtWork.windDown([&] {
            woundDown = true;
            app.quit();
        });
        QTimer::singleShot(windDownLimitMs, &app, [&] { app.quit(); });
    });
    watchdog.start();
    operatorAtWork.start();
    app.exec();
    watchdog.stop();

    int violations = checks.violations();
    if (!woundDown) {
        ++violations;
        std::printf("soak: VIOLATION: the window did not come to rest within %d s of the end\n",
                    windDownLimitMs / 1000);
    }
    std::printf("soak: %d searches, %d boxes closed, %d quiet checks, contents judged %d times "
                "(%d more after mangled replies, %d of them differing), %d \"Interface\" lines, "
                "longest GUI silence %lld ms\n",
                operatorAtWork.searches(), checks.boxesSeen(), checks.quietChecks(),
                checks.contentsJudged(), checks.contentsUntrusted(), checks.contentsDiffering(),
                interfaceLines, qint64(watchdog.longestSilence().count()));
    std::printf("soak: faults by kind: %s\n", qPrintable(operatorAtWork.faultsByKind()));
    std::printf("soak: %s in %lld s: %d actions, %d exchanges, %d faults injected, "
                "%d frames checked, %d violations, seed %u\n",
                violations == 0 ? "passed" : "FAILED", run.elapsed() / 1000,
                operatorAtWork.actions(), cComPort::exchangesStarted(),
                operatorAtWork.faultsInjected(), checks.framesChecked(), violations, options.seed);
    std::fflush(stdout);
    return violations == 0 ? 0 : 1;
}
