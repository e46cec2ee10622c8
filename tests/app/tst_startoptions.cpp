// What the command line asks of the window: the port chosen (and listed when the system
// does not list it), the address, and the line speed the search tries first.
#include "commandcodes.h"
#include "commandline.h"
#include "frametrace.h"
#include "tracefile.h"
#include "unitbench.h"

#include <QComboBox>
#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <cstdio>
#include <unistd.h>

namespace {
StartOptions optionsFrom(const QStringList &args)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    QList<QByteArray> bytes;
    for (const QString &arg : QStringList{"vertal-wizard"} + args)
        bytes << arg.toLocal8Bit();
    QList<char *> argv;
    for (QByteArray &b : bytes)
        argv << b.data();
    asksForTextOnly(parser, int(argv.size()), argv.data());
    StartOptions options;
    QString error;
    if (!readStartOptions(parser, options, error))
        qWarning() << error;
    return options;
}

QList<int> speedsOfRequests(const UnitBench &bench)
{
    QList<int> speeds;
    for (const ReceivedFrame &frame : bench.server.receivedFrames())
        speeds << frame.lineSpeed;
    return speeds;
}
} // namespace

class TestStartOptions : public QObject
{
    Q_OBJECT
private slots:
    void valuesRead();
    void withoutOptionsNothingChanges();
    void portPathAddedAndChosen();
    void listedPortChosenOnce();
    void addressSet();
    void speedTriedFirstThenTheUsualOrder();
    void traceOfAConnection();
    void traceThatCannotBeWritten();
};

void TestStartOptions::valuesRead()
{
    const StartOptions options = optionsFrom(
        {"--port", "/dev/serial/by-id/x", "--address", "7", "--speed", "115200", "--trace", "t"});
    QCOMPARE(options.port, QString("/dev/serial/by-id/x"));
    QCOMPARE(options.address, 7);
    QCOMPARE(options.speed, 115200);
    QCOMPARE(options.trace, QString("t"));
}

void TestStartOptions::withoutOptionsNothingChanges()
{
    UnitBench bench;
    QVERIFY(bench.isReady());
    const StartOptions none = optionsFrom({});
    QCOMPARE(none.address, -1);
    QCOMPARE(none.speed, 0);
    bench.window->applyStartOptions(none);
    QCOMPARE(bench.control<QComboBox>("com_port")->currentIndex(), 0);
    QCOMPARE(bench.control<QComboBox>("com_port")->count(), 1);
    QCOMPARE(bench.control<QSpinBox>("addr")->value(), 0);
}

void TestStartOptions::portPathAddedAndChosen()
{
    UnitBench bench;
    QVERIFY(bench.isReady());
    auto *ports = bench.control<QComboBox>("com_port");
    const QString listed = ports->itemText(0);
    bench.window->applyStartOptions(optionsFrom({"--port", "/dev/serial/by-id/usb-adapter"}));
    QCOMPARE(ports->count(), 2);
    QCOMPARE(ports->currentText(), QString("/dev/serial/by-id/usb-adapter"));
    QCOMPARE(ports->toolTip(), QString("/dev/serial/by-id/usb-adapter"));
    // Reading the ports again keeps the path the operator named.
    QTest::mouseClick(ports, Qt::LeftButton);
    ports->hidePopup();
    QCOMPARE(ports->count(), 2);
    QCOMPARE(ports->currentText(), QString("/dev/serial/by-id/usb-adapter"));
    QCOMPARE(ports->itemText(0), listed);
}

void TestStartOptions::listedPortChosenOnce()
{
    MainWindow window(nullptr, [] { return QStringList{"ttyS0", "ttyUSB0"}; });
    window.applyStartOptions(optionsFrom({"--port", "ttyUSB0"}));
    auto *ports = window.findChild<QComboBox *>("com_port");
    QCOMPARE(ports->count(), 2);
    QCOMPARE(ports->currentIndex(), 1);
}

void TestStartOptions::addressSet()
{
    MainWindow window(nullptr, [] { return QStringList{"ttyS0"}; });
    window.applyStartOptions(optionsFrom({"--address", "255"}));
    QCOMPARE(window.findChild<QSpinBox *>("addr")->value(), 255);
    // The syntax vertal-cli takes: hexadecimal with 0x too.
    window.applyStartOptions(optionsFrom({"--address", "0x10"}));
    QCOMPARE(window.findChild<QSpinBox *>("addr")->value(), 16);
}

// A unit at 4800 with 115200 asked first: nine copies at 115200, then found at once at 4800.
// A unit at the speed asked: found with the first request.
void TestStartOptions::speedTriedFirstThenTheUsualOrder()
{
    UnitBench bench;
    QVERIFY(bench.isReady());
    bench.window->applyStartOptions(optionsFrom({"--speed", "115200"}));
    QVERIFY(bench.connectUnit(1));
    const QList<int> speeds = speedsOfRequests(bench);
    QVERIFY(speeds.size() >= 10);
    QCOMPARE(speeds.mid(0, 9), QList<int>(9, 115200));
    QCOMPARE(speeds.at(9), 4800);
    QVERIFY(!speeds.mid(9).contains(115200));

    UnitState fast = UnitBench::defaultUnit();
    fast.lineSpeed = 57600;
    UnitBench quick(fast);
    QVERIFY(quick.isReady());
    quick.window->applyStartOptions(optionsFrom({"--speed", "57600"}));
    QVERIFY(quick.connectUnit(1));
    QCOMPARE(quick.requestsFor(CMD_READ_BOARDS).size(), 1);
    QCOMPARE(speedsOfRequests(quick).first(), 57600);
}

// Asked for its address (0), the unit at 1 answers at 4800 after nine silent tries at
// 9600: a header for each speed tried and for the address learnt, then every frame, each
// with the date and the time to the millisecond.
void TestStartOptions::traceOfAConnection()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trace.txt");
    FrameTrace trace;
    QVERIFY(installTrace(trace, path));
    UnitBench bench;
    QVERIFY(bench.isReady());
    bench.window->applyStartOptions(optionsFrom({"--speed", "9600"}));
    QVERIFY(bench.connectUnit(0));
    QVERIFY(bench.waitForTicks(1));
    FrameTrace::install(nullptr);

    QStringList lines;
    QVERIFY(readTraceLines(path, lines));
    const QString port = bench.server.devicePath();
    const QRegularExpression header(
        "^# vertal-wizard 1\\.05 port (\\S+) speed (\\d+) address (\\d+) at "
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$");
    const QRegularExpression frame(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (out|in) (.+)$");
    QStringList headers;
    int out = 0, in = 0;
    for (const QString &line : lines) {
        const auto h = header.match(line);
        if (h.hasMatch()) {
            QCOMPARE(h.captured(1), port);
            headers << h.captured(2) + "/" + h.captured(3);
            continue;
        }
        const auto f = frame.match(line);
        QVERIFY2(f.hasMatch(), qPrintable(line));
        (f.captured(1) == "out" ? out : in) += 1;
        QVERIFY2(f.captured(2).startsWith(f.captured(1) == "out" ? '$' : '!'), qPrintable(line));
    }
    QCOMPARE(headers, (QStringList{"9600/0", "4800/0", "4800/1"}));
    QVERIFY2(out >= 9 + 1 + 3 + 1, qPrintable(lines.join('\n')));
    QVERIFY(in >= 4);
    QVERIFY(lines.first().startsWith("# "));
}

namespace {
// Standard error into `file` for as long as it lives.
struct StandardErrorTo
{
    explicit StandardErrorTo(const QFile &file) : saved(::dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        ::dup2(file.handle(), STDERR_FILENO);
    }
    ~StandardErrorTo()
    {
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    int saved;
};
} // namespace

// A trace on a full disk: the window connects and polls as ever, and standard error says
// once that the trace stops.
void TestStartOptions::traceThatCannotBeWritten()
{
    QTemporaryFile said;
    QVERIFY(said.open());
    bool opened = false;
    bool connected = false;
    bool polled = false;
    {
        const StandardErrorTo redirect(said);
        FrameTrace trace;
        QString error;
        opened = openTrace(trace, QStringLiteral("/dev/full"), error);
        UnitBench bench;
        connected = bench.isReady() && bench.connectUnit(1);
        polled = connected && bench.waitForTicks(2);
        FrameTrace::install(nullptr);
    }
    QVERIFY(opened);
    QVERIFY(connected);
    QVERIFY(polled);
    said.seek(0);
    const QByteArray text = said.readAll();
    QVERIFY2(text.count("--trace: cannot write /dev/full") == 1, text.constData());
}

QTEST_MAIN(TestStartOptions)
#include "tst_startoptions.moc"
