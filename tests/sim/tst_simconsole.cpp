#include "rawclient.h"

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
    void drivenThroughItsConsole();
    void endsCleanly_data();
    void endsCleanly();
    void helpListsEveryCommand();
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

void TestSimConsole::drivenThroughItsConsole()
{
    QProcess sim;
    const QString path =
        start(sim, {"--address", "9", "--speed", "57600", "--boards", "0x05", "--version", "2.7"});
    QVERIFY(path.startsWith("/dev/"));
    QCOMPARE(QFileInfo(dir.filePath("unit")).symLinkTarget(), path);

    sim.write("status 2 alarm\ncase open\n");
    RawClient client;
    QVERIFY(client.open(dir.filePath("unit"), 57600));
    readUntil(sim, "case open");
    client.send(QByteArray::fromHex("090402"));
    QCOMPARE(client.readFrame(replyWaitMs), QByteArray("!09101100002A\r"));

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
         {"--address",   "--speed", "--boards",  "--version",  "--link", "status N", "case open",
          "value N",     "kind N",  "show",      "fault KIND", "sticky", "noanswer", "delay",
          "chunked",     "garbage", "oddlength", "badhigh",    "badlow", "babble",   "unplug",
          "fault clear", "replug",  "log",       "quit"})
        QVERIFY2(help.contains(word), word);
}

void TestSimConsole::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("speed") << QStringList{"--speed", "2400"};
    QTest::newRow("address") << QStringList{"--address", "256"};
    QTest::newRow("version") << QStringList{"--version", "1"};
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
