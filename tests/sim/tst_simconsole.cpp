#include "rawclient.h"
#include "simconsole.h"
#include "simunit.h"
#include "unitserver.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

constexpr int startMs = 10000;
constexpr int replyWaitMs = 2000;

} // namespace

class TestSimConsole : public QObject
{
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void drivenThroughItsConsole();
    void refusesToReplaceAFile();
    void endsCleanly_data();
    void endsCleanly();
    void helpListsEveryCommand();
    void printsItsOwnVersion();
    void refusesBadOptions_data();
    void refusesBadOptions();

private:
    // Starts the program with `args` plus a link in `dir`; returns the first line.
    QString start(QProcess &sim, const QStringList &args);
    // Reads standard output until `text` appears.
    QByteArray readUntil(QProcess &sim, const QByteArray &text);

    QTemporaryDir dir;
};

QString TestSimConsole::start(QProcess &sim, const QStringList &args)
{
    sim.start(QStringLiteral(SIM_PROGRAM), args + QStringList{"--link", dir.filePath("unit")});
    if (!sim.waitForStarted(startMs))
        return QString();
    while (!sim.canReadLine() && sim.waitForReadyRead(startMs)) {
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

QByteArray TestSimConsole::readUntil(QProcess &sim, const QByteArray &text)
{
    QByteArray got = sim.readAll();
    while (!got.contains(text) && sim.waitForReadyRead(startMs))
        got += sim.readAll();
    return got;
}

void TestSimConsole::commands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("output"); // what the answer starts with
    QTest::addColumn<QString>("state");  // a line "show" then contains ("" for none)

    QTest::newRow("status by name") << "status 1 fault"
                                    << "board 1 status 0x02"
                                    << "board 1 input, status 0x02";
    QTest::newRow("status by byte") << "status 1 0x13"
                                    << "board 1 status 0x13"
                                    << "board 1 input, status 0x13";
    QTest::newRow("status of no position") << "status 5 alarm"
                                           << "usage: status"
                                           << "";
    QTest::newRow("case open") << "case open"
                               << "case open"
                               << "case open";
    QTest::newRow("case ajar") << "case ajar"
                               << "usage: case"
                               << "case closed";
    QTest::newRow("value") << "value 1 65535"
                           << "board 1 value 65535"
                           << "value 65535";
    QTest::newRow("value too big") << "value 1 65536"
                                   << "usage: value"
                                   << "value 0,";
    QTest::newRow("kind by name") << "kind 4 input"
                                  << "board 4 input"
                                  << "board 4 input";
    QTest::newRow("kind by code") << "kind 1 2"
                                  << "board 1 relay"
                                  << "board 1 relay, relay off";
    QTest::newRow("kind unknown") << "kind 1 5"
                                  << "usage: kind"
                                  << "board 1 input";
    QTest::newRow("fault once") << "fault noanswer"
                                << "fault noanswer (once)"
                                << "fault noanswer (once)";
    QTest::newRow("fault sticky with parameter") << "fault delay sticky 250"
                                                 << "fault delay (sticky)"
                                                 << "fault delay (sticky)";
    QTest::newRow("fault parameter it does not take") << "fault oddlength 3"
                                                      << "usage: fault"
                                                      << "fault none";
    QTest::newRow("fault unknown") << "fault gremlins"
                                   << "usage: fault"
                                   << "fault none";
    QTest::newRow("fault clear") << "fault clear"
                                 << "fault none"
                                 << "fault none";
    QTest::newRow("empty log") << "log"
                               << "no frames received"
                               << "";
    QTest::newRow("unknown command") << "frobnicate"
                                     << "unknown command 'frobnicate'"
                                     << "";
    QTest::newRow("blank line") << "   "
                                << ""
                                << "";
}

// The console's commands, run in-process against a served unit.
void TestSimConsole::commands()
{
    QFETCH(QString, line);
    QFETCH(QString, output);
    QFETCH(QString, state);
    SimUnit unit;
    UnitServer server(unit);
    QVERIFY(server.start());
    SimConsole console(unit, server);
    bool quit = false;
    const QString answer = console.execute(line, quit);
    QVERIFY2(output.isEmpty() ? answer.isEmpty() : answer.startsWith(output), qPrintable(answer));
    QVERIFY(!quit);
    const QString shown = console.execute("show", quit);
    QVERIFY2(shown.contains(state), qPrintable(shown));
    console.execute("quit", quit);
    QVERIFY(quit);
}

void TestSimConsole::drivenThroughItsConsole()
{
    QProcess sim;
    const QString path =
        start(sim, {"--address", "9", "--speed", "57600", "--boards", "0x05", "--firmware", "2.7"});
    QVERIFY(path.startsWith("/dev/"));
    QCOMPARE(QFileInfo(dir.filePath("unit")).symLinkTarget(), path);

    sim.write("status 2 alarm\ncase open\n");
    RawClient client;
    QVERIFY(client.open(dir.filePath("unit"), 57600));
    readUntil(sim, "case open");
    client.send(QByteArray::fromHex("090402"));
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!001011000021\r"));

    sim.write("show\n");
    const QByteArray shown = readUntil(sim, "fault none");
    QVERIFY2(shown.contains("address 9, speed 57600, version 2.7, boards 0x05, case open"),
             shown.constData());
    QVERIFY2(shown.contains("board 2 input, status 0x11"), shown.constData());

    sim.write("log\n");
    QVERIFY(readUntil(sim, "1 frames").contains("$0904020F\\r payload 09 04 02 check ok"));

    sim.write("quit\n");
    QVERIFY(sim.waitForFinished(startMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(dir.filePath("unit")).isSymLink());
}

// A --link path that is a file of someone else's is left alone.
void TestSimConsole::refusesToReplaceAFile()
{
    QFile file(dir.filePath("unit"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QProcess sim;
    const QString path = start(sim, {});
    QVERIFY(sim.state() == QProcess::NotRunning || sim.waitForFinished(startMs));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray kept = file.readAll();
    file.remove();
    QVERIFY(path.isEmpty());
    QCOMPARE(sim.exitCode(), 1);
    QCOMPARE(kept, QByteArray("keep me"));
}

void TestSimConsole::endsCleanly_data()
{
    QTest::addColumn<int>("how"); // 0 end of input, else the signal
    QTest::newRow("end of input") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimConsole::endsCleanly()
{
    QFETCH(int, how);
    QProcess sim;
    QVERIFY(!start(sim, {}).isEmpty());
    QVERIFY(QFileInfo(dir.filePath("unit")).isSymLink());
    if (how == 0)
        sim.closeWriteChannel();
    else
        ::kill(pid_t(sim.processId()), how);
    QVERIFY(sim.waitForFinished(startMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(dir.filePath("unit")).isSymLink());
}

void TestSimConsole::helpListsEveryCommand()
{
    QProcess sim;
    sim.start(QStringLiteral(SIM_PROGRAM), {"--help"});
    QVERIFY(sim.waitForFinished(startMs));
    QCOMPARE(sim.exitCode(), 0);
    const QByteArray help = sim.readAllStandardOutput();
    for (const char *word :
         {"--address", "--speed",     "--boards", "--firmware", "--version",  "--link", "status N",
          "case open", "value N",     "kind N",   "show",       "fault KIND", "sticky", "noanswer",
          "delay",     "chunked",     "garbage",  "oddlength",  "badhigh",    "badlow", "babble",
          "unplug",    "fault clear", "replug",   "log",        "quit"})
        QVERIFY2(help.contains(word), word);
}

// --version is the simulator's own, as with any program; the unit's firmware is --firmware.
void TestSimConsole::printsItsOwnVersion()
{
    QProcess sim;
    sim.start(QStringLiteral(SIM_PROGRAM), {"--version"});
    QVERIFY(sim.waitForFinished(startMs));
    QCOMPARE(sim.exitCode(), 0);
    QCOMPARE(sim.readAllStandardOutput(), QByteArray("vertal-unit-sim 1.05\n"));
}

void TestSimConsole::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("speed") << QStringList{"--speed", "2400"};
    QTest::newRow("address") << QStringList{"--address", "256"};
    QTest::newRow("firmware") << QStringList{"--firmware", "1"};
    QTest::newRow("stray word") << QStringList{"4800"};
    QTest::newRow("missing value") << QStringList{"--boards"};
    QTest::newRow("unknown") << QStringList{"--colour", "red"};
}

void TestSimConsole::refusesBadOptions()
{
    QFETCH(QStringList, args);
    QProcess sim;
    sim.start(QStringLiteral(SIM_PROGRAM), args);
    QVERIFY(sim.waitForFinished(startMs));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(TestSimConsole)
#include "tst_simconsole.moc"
