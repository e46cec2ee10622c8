// vertal-cli on a line behind a real ser2net in front of the simulated unit: every command
// takes the server's rfc2217:// or tcp:// name, and a connection that cannot be made is
// exit 3 with its reason.
#include "clirunner.h"
#include "commandcodes.h"
#include "hostileserver.h"
#include "serialserver.h"
#include "silentresolver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The unit at address 1 and 19200 baud: the search reaches it after 4800 and 9600.
UnitState networkUnit()
{
    UnitState state = cliUnit(1);
    state.lineSpeed = 19200;
    return state;
}

// A server that takes connections and says nothing: a socket listening on 127.0.0.1 whose
// queue the system fills (a connection is made there; nothing is accepted or read).
class SilentListener
{
public:
    SilentListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(fd, 4) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd); }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    quint16 listening() const { return port; } // 0 when it could not listen
    // A connection waits in the queue.
    bool connected() const
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }

private:
    int fd = -1;
    quint16 port = 0;
};

int boardRequests(UnitServer &server)
{
    int count = 0;
    for (const ReceivedFrame &f : server.receivedFrames())
        count += f.payload.size() > 1 && quint8(f.payload[1]) == CMD_READ_BOARDS ? 1 : 0;
    return count;
}

} // namespace

class TestCliNetwork : public QObject
{
    Q_OBJECT
private slots:
    void commandsOverRfc2217();
    void rawTcpWithItsSpeed();
    void connectionsThatCannotBeMade_data();
    void connectionsThatCannotBeMade();
    void signalEndsTheConnectionAttempt_data();
    void signalEndsTheConnectionAttempt();
    void serverGoneMidwayIsNamed();
    void hostileServers_data();
    void hostileServers();
    void serverThatKeepsItsSpeed();
    void serverThatAnswersOneSpeed();
    void silentResolverEndsAtTheDeadline();
    void signalEndsASilentLookup();
};

void TestCliNetwork::commandsOverRfc2217()
{
    SimulatedLine line({networkUnit(), cliUnit(3)});
    QVERIFY(line.isReady());
    line.unit(1).modify([](UnitState &s) { s.lineSpeed = 19200; });
    SerialServer server;
    QVERIFY2(server.start(line.path()), qPrintable(server.errorString()));
    const QString url = server.rfc2217Url();

    const CliRun find = runCli({"find", "--port", url, "--address", "1"});
    QCOMPARE(find.exitCode, 0);
    QVERIFY2(find.out.contains("speed 19200\naddress 1\nversion 2.15\n"), find.out.constData());

    QProcess watch;
    startCli(watch, {"status", "--port", url, "--speed", "19200", "--address", "1", "--board", "1",
                     "--watch", "--interval", "50", "--json"});
    QByteArray out;
    while (out.count('\n') < 2 && watch.waitForReadyRead(10000))
        out += watch.readAllStandardOutput();
    ::kill(pid_t(watch.processId()), SIGINT);
    QVERIFY(watch.waitForFinished(10000));
    QCOMPARE(watch.exitCode(), 0);
    QVERIFY2(out.contains("\"state\":\"normal\""), out.constData());

    const CliRun set = runCli({"relay", "set", "--port", url, "--speed", "19200", "--address", "1",
                               "--board", "1", "--relay", "2", "--time", "30", "--period", "10"});
    QCOMPARE(set.exitCode, 0);
    const UnitState::AlarmRelay stored = line.unit().state().alarmRelay[0];
    QCOMPARE(int(stored.relay), 2);
    QCOMPARE(int(stored.onTime), 30);
    QCOMPARE(int(stored.period), 10);

    const CliRun scan =
        runCli({"scan", "--port", url, "--speed", "19200", "--addresses", "1-3", "--tries", "1"});
    QCOMPARE(scan.exitCode, 0);
    QVERIFY2(scan.lines().constLast() == "2 of 3 addresses answered at 19200 baud: 1, 3",
             scan.out.constData());
}

void TestCliNetwork::rawTcpWithItsSpeed()
{
    SimulatedLine line({networkUnit()});
    QVERIFY(line.isReady());
    SerialServer server;
    SerialServer::Options options;
    options.rawSpeed = 19200;
    QVERIFY2(server.start(line.path(), options), qPrintable(server.errorString()));
    const CliRun info = runCli({"info", "--port", server.tcpUrl(), "--speed", "19200"});
    QCOMPARE(info.exitCode, 0);
    QVERIFY2(info.out.contains("speed 19200\n") && info.out.contains("version 2.15"),
             info.out.constData());
    // Without --speed the unit answers the search's first copy at 4800: that says nothing of
    // the server's line.
    line.server->clearReceivedFrames();
    const CliRun find = runCli({"find", "--port", server.tcpUrl(), "--json"});
    QCOMPARE(find.exitCode, 0);
    QCOMPARE(find.json().size(), 1);
    QVERIFY2(find.json().constFirst().value("speed").isNull(), find.out.constData());
    // The speed cannot be set on a bare socket: the search asks once, not at six speeds
    // that are all the server's one, and a search that hears nothing says where it asked.
    QCOMPARE(boardRequests(*line.server), 1);
    line.server->clearReceivedFrames();
    const CliRun none =
        runCli({"find", "--port", server.tcpUrl(), "--address", "9", "--tries", "2"});
    QCOMPARE(none.exitCode, 4);
    QVERIFY2(none.err.contains("at the line speed the server sets") &&
                 !none.err.contains("six line speeds"),
             none.err.constData());
    QCOMPARE(boardRequests(*line.server), 2);
}

void TestCliNetwork::connectionsThatCannotBeMade_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("said");
    QTest::newRow("refused")
        << QStringLiteral("rfc2217://127.0.0.1:%1").arg(SerialServer::freePort())
        << "Connection refused";
    QTest::newRow("name does not resolve") << "tcp://no-such-host.invalid:2000"
                                           << "no-such-host.invalid port 2000";
    QTest::newRow("not RFC 2217") << QString() << "RFC 2217";
    QTest::newRow("second client") << "held"
                                   << "serves another client";
}

void TestCliNetwork::connectionsThatCannotBeMade()
{
    QFETCH(QString, url);
    QFETCH(QString, said);
    SimulatedLine line({networkUnit()});
    QVERIFY(line.isReady());
    SerialServer server;
    QVERIFY2(server.start(line.path()), qPrintable(server.errorString()));
    QProcess holder;
    if (url.isEmpty()) {
        url = server.tcpUrl().replace("tcp://", "rfc2217://");
    } else if (url == "held") {
        url = server.rfc2217Url();
        startCli(holder, {"status", "--port", url, "--speed", "19200", "--watch"});
        QVERIFY(holder.waitForReadyRead(10000));
    }
    const CliRun run = runCli({"find", "--port", url});
    if (holder.state() != QProcess::NotRunning) {
        ::kill(pid_t(holder.processId()), SIGINT);
        QVERIFY(holder.waitForFinished(10000));
    }
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.err.contains(url.toUtf8()) && run.err.contains(said.toUtf8()),
             run.err.constData());
}

void TestCliNetwork::signalEndsTheConnectionAttempt_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<int>("signal");
    QTest::newRow("find, Ctrl-C") << QStringList{"find"} << int(SIGINT);
    QTest::newRow("watch, SIGTERM")
        << QStringList{"value", "--board", "1", "--watch"} << int(SIGTERM);
    QTest::newRow("scan, hang-up")
        << QStringList{"scan", "--speed", "19200", "--addresses", "1-3"} << int(SIGHUP);
}

// A server that takes the connection and then says nothing holds the opening for its 3 s
// of Telnet negotiation: a signal meanwhile ends the attempt and the program at once, by
// that signal, whatever the command (a stream has not begun yet).
void TestCliNetwork::signalEndsTheConnectionAttempt()
{
    QFETCH(QStringList, command);
    QFETCH(int, signal);
    SilentListener silent;
    QVERIFY(silent.listening());
    QProcess cli;
    startCli(cli, command + QStringList{
                                "--port",
                                QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.listening())});
    QTRY_VERIFY_WITH_TIMEOUT(silent.connected(), 10000);
    const qint64 stoppedMs = signalAndWait(cli, signal);
    QVERIFY(stoppedMs >= 0);
    // Measured: under 1 ms; the negotiation alone would have waited 3 s.
    QVERIFY2(stoppedMs < 1000, qPrintable(QString::number(stoppedMs)));
    QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
    QCOMPARE(cli.exitCode(), signal);
    QVERIFY(cli.readAllStandardError().isEmpty());
}

// The server dies under a watch: the server ended the connection, in the system's words,
// not an unplugged adapter.
void TestCliNetwork::serverGoneMidwayIsNamed()
{
    SimulatedLine line({networkUnit()});
    QVERIFY(line.isReady());
    SerialServer server;
    QVERIFY2(server.start(line.path()), qPrintable(server.errorString()));
    const QString url = server.rfc2217Url();
    QProcess cli;
    startCli(cli, {"value", "--port", url, "--speed", "19200", "--address", "1", "--board", "1",
                   "--watch", "--interval", "50"});
    QVERIFY(cli.waitForReadyRead(10000));
    server.kill();
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitCode(), 5);
    const QByteArray err = cli.readAllStandardError();
    QVERIFY2(err.contains("the server of " + url.toUtf8() + " ended the connection (") &&
                 !err.contains("unplugged") && !err.contains("no reply"),
             err.constData());
}

namespace {

// One run of vertal-cli against a misbehaving server: its end, how long it took, and its
// peak resident memory: VmHWM read from /proc while it runs, and at its end the largest of
// this test's children that have ended (a run that ends within one look leaves no VmHWM to
// read; the children's figure is an upper bound of its own).
struct MeasuredRun
{
    CliRun run;
    qint64 elapsedMs = 0;
    long peakKiB = -1;
};

long endedChildrenPeakKiB()
{
    rusage usage{};
    return ::getrusage(RUSAGE_CHILDREN, &usage) == 0 ? usage.ru_maxrss : -1;
}

long peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).simplified().split(' ').constFirst().toLong();
    return -1;
}

MeasuredRun runMeasured(const QStringList &args)
{
    constexpr int limitMs = 60000;
    MeasuredRun measured;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    startCli(process, args);
    const qint64 pid = process.processId();
    do
        measured.peakKiB = std::max(measured.peakKiB, peakResidentKiB(pid));
    while (!process.waitForFinished(20) && clock.elapsed() < limitMs);
    measured.elapsedMs = clock.elapsed();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    measured.peakKiB = std::max(measured.peakKiB, endedChildrenPeakKiB());
    measured.run.crashed = process.exitStatus() != QProcess::NormalExit;
    measured.run.exitCode = process.exitCode();
    measured.run.out = process.readAllStandardOutput();
    measured.run.err = process.readAllStandardError();
    return measured;
}

QStringList withPort(QStringList args, const QString &url)
{
    args.replaceInStrings(QStringLiteral("PORT"), url);
    return args;
}

} // namespace

void TestCliNetwork::hostileServers_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("scheme"); // the server's own (empty), rfc2217 or tcp
    QTest::addColumn<int>("serverSpeed");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::addColumn<int>("withinMs");
    using H = HostileServer;
    const QStringList find = {"find", "--port", "PORT"};
    const QStringList findAt9600 = find + QStringList{"--speed", "9600", "--address", "1"};
    // Measured on this machine (two cores shared with other builds): the exchange on the
    // flood of data 3185 ms, on the NOP flood 4871 ms (the opening, then nine copies); the
    // openings that wait out the 3 s negotiation 3006 ms; the resets, the storm and the kept
    // speed 7 ms, the close 307 ms. Each bound is three times that, the quick ones a busy
    // machine's slack (the program's start included).
    QTest::newRow("data without end (raw TCP)")
        << int(H::Flood) << "" << 0 << findAt9600 << 4 << "address 1" << 9600;
    QTest::newRow("data without end where Telnet was due")
        << int(H::Flood) << "rfc2217" << 0 << find << 3 << "RFC 2217" << 9100;
    QTest::newRow("IAC pairs without end")
        << int(H::IacPairFlood) << "" << 0 << find << 3 << "RFC 2217" << 9100;
    QTest::newRow("IAC NOP without end after the negotiation")
        << int(H::NopFloodAfterNegotiation) << "" << 0 << findAt9600 << 4 << "no unit answered"
        << 15000;
    QTest::newRow("option storm") << int(H::OptionStorm) << "" << 0 << find << 3
                                  << "breaks the Telnet protocol" << 1500;
    QTest::newRow("reset at accept (raw TCP)")
        << int(H::ResetAtAccept) << "tcp" << 0 << find << 3 << "reset the connection" << 1500;
    QTest::newRow("reset at accept (RFC 2217)")
        << int(H::ResetAtAccept) << "rfc2217" << 0 << find << 3 << "reset the connection" << 1500;
    QTest::newRow("closed in the middle of the reply")
        << int(H::CloseMidReply) << "" << 19200
        << find + QStringList{"--speed", "19200", "--address", "1"} << 5 << "ended the connection"
        << 1000;
    QTest::newRow("line kept at another speed")
        << int(H::KeepsOtherSpeed) << "" << 9600 << find + QStringList{"--speed", "19200"} << 4
        << "keeps its line at 9600" << 1500;
}

// Whatever the server does, vertal-cli ends within its budget with its exit code and the
// server's fault in its words, and its memory stays small.
void TestCliNetwork::hostileServers()
{
    QFETCH(int, behaviour);
    QFETCH(QString, scheme);
    QFETCH(int, serverSpeed);
    QFETCH(QStringList, args);
    SimulatedLine line({networkUnit()});
    QVERIFY(line.isReady());
    HostileServer server(HostileServer::Behaviour(behaviour), line.path(), serverSpeed);
    QVERIFY(server.start());
    const QString url = scheme.isEmpty()      ? server.url()
                        : scheme == "rfc2217" ? server.rfc2217Url()
                                              : server.tcpUrl();
    const MeasuredRun measured = runMeasured(withPort(args, url));
    qInfo("exit %d after %lld ms, peak %ld KiB, the server sent %lld bytes: %s",
          measured.run.exitCode, measured.elapsedMs, measured.peakKiB, server.bytesSent(),
          measured.run.err.trimmed().constData());
    QVERIFY(!measured.run.crashed);
    QTEST(measured.run.exitCode, "exitCode");
    QFETCH(QString, said);
    QVERIFY2(measured.run.err.contains(said.toUtf8()), measured.run.err.constData());
    QFETCH(int, withinMs);
    QVERIFY2(measured.elapsedMs < withinMs, qPrintable(QString::number(measured.elapsedMs)));
    QVERIFY2(measured.peakKiB < 64 * 1024, qPrintable(QString::number(measured.peakKiB)));
}

// A server that keeps the unit's line at 9600 whatever it is asked: the search skips the
// speeds it will not set and reports the one the line really has, and so does the backup.
void TestCliNetwork::serverThatKeepsItsSpeed()
{
    UnitState unit = networkUnit();
    unit.lineSpeed = 9600;
    SimulatedLine line({unit});
    QVERIFY(line.isReady());
    HostileServer server(HostileServer::KeepsOtherSpeed, line.path(), 9600);
    QVERIFY(server.start());
    const CliRun find = runCli({"find", "--port", server.url()});
    QCOMPARE(find.exitCode, 0);
    QVERIFY2(find.out.contains("speed 9600\naddress 1\n"), find.out.constData());
    const CliRun save = runCli({"config", "save", "--port", server.url(), "--json"});
    QCOMPARE(save.exitCode, 0);
    QVERIFY2(save.out.contains("\"speed\":9600"), save.out.constData());
}

// A server that answers the opening's SET-BAUDRATE and no later one (it sets each speed all
// the same): the unanswered request is not waited for again, so a watch reads at about its
// interval and a search through three speeds takes the time of its copies. Waiting 2 s for
// every copy took 2.2 s per reading and 48 s for the search.
void TestCliNetwork::serverThatAnswersOneSpeed()
{
    SimulatedLine line({networkUnit()});
    QVERIFY(line.isReady());
    HostileServer server(HostileServer::AnswersFirstSpeedOnly, line.path(), 4800);
    QVERIFY(server.start());
    QProcess watch;
    startCli(watch, {"status", "--port", server.url(), "--speed", "19200", "--address", "1",
                     "--board", "1", "--watch", "--interval", "200"});
    QByteArray out;
    while (out.count('\n') < 1 && watch.waitForReadyRead(10000))
        out += watch.readAllStandardOutput();
    QVERIFY2(out.count('\n') == 1, watch.readAllStandardError().constData());
    // Readings counted over 3 s from the first one on.
    QElapsedTimer window;
    window.start();
    out.clear();
    while (window.elapsed() < 3000)
        if (watch.waitForReadyRead(int(3000 - window.elapsed())))
            out += watch.readAllStandardOutput();
    ::kill(pid_t(watch.processId()), SIGINT);
    QVERIFY(watch.waitForFinished(10000));
    QCOMPARE(watch.exitCode(), 0);
    const int readings = int(out.count('\n'));
    qInfo("%d readings in 3 s at an interval of 200 ms", readings);
    // Measured 14 readings (one each 200 ms and its exchange); a third of that on a busier
    // machine is still far from the one or two of a 2 s wait per copy.
    QVERIFY2(readings >= 5, out.constData());

    QElapsedTimer searching;
    searching.start();
    const CliRun find = runCli({"find", "--port", server.url(), "--address", "1"});
    const qint64 findMs = searching.elapsed();
    qInfo("the search through 4800 and 9600 to 19200 took %lld ms", findMs);
    QCOMPARE(find.exitCode, 0);
    QVERIFY2(find.out.contains("speed 19200\n"), find.out.constData());
    // Measured 7756 ms: eighteen unanswered copies at 4800 and 9600, one 2 s wait.
    QVERIFY2(findMs < 24000, qPrintable(QString::number(findMs)));
}

namespace {

// vertal-cli started in the namespaces of `resolver`, whose resolver never answers.
bool startBehind(QProcess &cli, const SilentResolver &resolver, const QStringList &args)
{
    const QStringList command = resolver.wrapper() + QStringList{CLI_PROGRAM} + args;
    cli.start(command.first(), command.mid(1));
    return cli.waitForStarted();
}

QString silentUrl()
{
    return QStringLiteral("rfc2217://%1:2000").arg(SilentResolver::unknownName);
}

} // namespace

// A name that only a silent resolver could answer: the opening's 5 s deadline ends the
// wait, exit 3, and the reason is the resolver's silence, not an unknown name.
void TestCliNetwork::silentResolverEndsAtTheDeadline()
{
    SilentResolver resolver;
    if (!resolver.start())
        QSKIP(qPrintable(resolver.errorString()));
    QProcess cli;
    QElapsedTimer took;
    took.start();
    QVERIFY(startBehind(cli, resolver, {"find", "--port", silentUrl()}));
    QVERIFY(cli.waitForFinished(15000)); // three times the opening's deadline
    const qint64 ms = took.elapsed();
    qInfo("vertal-cli ended %lld ms after its start", ms);
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 3);
    QVERIFY2(err.contains(silentUrl().toUtf8()) && err.contains("the resolver did not answer") &&
                 !err.contains("is not known"),
             err.constData());
    QVERIFY(resolver.queriesRead() > 0);
}

// SIGTERM while the name is being looked up ends the program at once, long before the
// opening's deadline.
void TestCliNetwork::signalEndsASilentLookup()
{
    SilentResolver resolver;
    if (!resolver.start())
        QSKIP(qPrintable(resolver.errorString()));
    QProcess cli;
    QVERIFY(startBehind(cli, resolver, {"find", "--port", silentUrl()}));
    QVERIFY2(!cli.waitForFinished(2000), cli.readAllStandardError().constData());
    QVERIFY(resolver.queriesRead() > 0); // still waiting for the resolver
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ::kill(pid_t(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    const qint64 ms = sinceSignal.elapsed();
    qInfo("vertal-cli ended %lld ms after SIGTERM (exit %d)", ms, cli.exitCode());
    // Measured: 1 ms at most; three times that, and room for a machine under load.
    constexpr qint64 measuredMs = 1;
    QVERIFY2(ms < 3 * measuredMs + 500, qPrintable(QString::number(ms)));
}

QTEST_GUILESS_MAIN(TestCliNetwork)
#include "tst_clinetwork.moc"
