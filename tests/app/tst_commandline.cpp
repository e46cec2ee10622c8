// The wizard program's command line: --help and --version answer on the console, without a
// display and before the port check; a wrong option ends the program with status 1.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

namespace {
struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the built wizard with `args`. Without `platform` it gets no display of any kind, as
// on a console; the test fails if it does not end within 30 s.
Run runWizard(const QStringList &args, const QString &platform = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    if (!platform.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    QProcess wizard;
    wizard.setProcessEnvironment(env);
    wizard.start(QStringLiteral(VERTAL_WIZARD_PATH), args);
    Run run;
    if (!wizard.waitForFinished(30000)) {
        wizard.kill();
        wizard.waitForFinished();
        return run;
    }
    run.exitCode = wizard.exitStatus() == QProcess::NormalExit ? wizard.exitCode() : -2;
    run.out = QString::fromUtf8(wizard.readAllStandardOutput());
    run.err = QString::fromUtf8(wizard.readAllStandardError());
    return run;
}
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void versionWithoutDisplay_data();
    void versionWithoutDisplay();
    void helpWithoutDisplay_data();
    void helpWithoutDisplay();
    void wrongOptionEnds();
    void wrongValueEnds_data();
    void wrongValueEnds();
};

// The version comes from the build's project version; Qt's own options before it
// (-platform NAME) are no reason to refuse the answer.
void TestCommandLine::versionWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("--version") << QStringList{"--version"};
    QTest::newRow("-v") << QStringList{"-v"};
    QTest::newRow("after a Qt option") << QStringList{"-platform", "offscreen", "--version"};
}

void TestCommandLine::versionWithoutDisplay()
{
    QFETCH(QStringList, args);
    const Run run = runWizard(args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("vertal-wizard 1.05\n"));
    QCOMPARE(run.err, QString());
}

void TestCommandLine::helpWithoutDisplay_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("--help") << QStringLiteral("--help");
    QTest::newRow("-h") << QStringLiteral("-h");
}

void TestCommandLine::helpWithoutDisplay()
{
    QFETCH(QString, option);
    const Run run = runWizard({option});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QLatin1String("--version")), qPrintable(run.out));
    QVERIFY2(run.out.contains(QLatin1String("--help")), qPrintable(run.out));
    QVERIFY2(run.out.contains(QStringLiteral("ВЕРТАЛ-КП")), qPrintable(run.out));
    for (const char *listed :
         {"--port <NAME>", "--address <N>", "--speed <BAUD>", "--trace <FILE>",
          "--language <LANG>"})
        QVERIFY2(run.out.contains(QLatin1String(listed)), listed);
}

// Rejected before the window is built: no box, no window, status 1 even on a machine with
// ports (the extra port below would otherwise let the window come up).
void TestCommandLine::wrongOptionEnds()
{
    qputenv("VERTAL_EXTRA_PORTS", "/dev/null");
    const Run run = runWizard({QStringLiteral("--no-such-option")}, QStringLiteral("offscreen"));
    qunsetenv("VERTAL_EXTRA_PORTS");
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QLatin1String("no-such-option")), qPrintable(run.err));
}

// A value out of range is refused the same way, and says which option it was; nothing is
// shown and no port is touched.
void TestCommandLine::wrongValueEnds_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");
    QTest::newRow("address 256") << QStringList{"--address", "256"} << "--address";
    QTest::newRow("address -1") << QStringList{"--address=-1"} << "--address";
    QTest::newRow("address text") << QStringList{"--address", "one"} << "--address";
    QTest::newRow("address 0x100") << QStringList{"--address", "0x100"} << "--address";
    QTest::newRow("address 0x") << QStringList{"--address", "0x"} << "--address";
    QTest::newRow("address +7") << QStringList{"--address", "+7"} << "--address";
    QTest::newRow("speed 1200") << QStringList{"--speed", "1200"} << "--speed";
    QTest::newRow("speed text") << QStringList{"--speed", "fast"} << "--speed";
    QTest::newRow("language de") << QStringList{"--language", "de"} << "--language";
}

void TestCommandLine::wrongValueEnds()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    const Run run = runWizard(args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(named), qPrintable(run.err));
    QCOMPARE(run.out, QString());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
