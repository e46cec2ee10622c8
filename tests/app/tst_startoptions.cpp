// What the command line asks of the window: the port chosen (and listed when the system
// does not list it), the address, and the line speed the search tries first.
#include "commandcodes.h"
#include "commandline.h"
#include "unitbench.h"

#include <QComboBox>
#include <QCommandLineParser>
#include <QSpinBox>
#include <QTest>

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

QTEST_MAIN(TestStartOptions)
#include "tst_startoptions.moc"
