// The window on a real serial line with a unit at its far end (in the QEMU guest of
// scripts/drivers.sh: the 8250 UART driver, the FTDI USB-serial driver).
//
//   VERTAL_TEST_PORT    the line's device (/dev/ttyUSB0); without it every case is skipped
//   VERTAL_TEST_USB_ID  the adapter's USB vendor:product (0403:6001) the port list must show
//                       where udev runs (its database is what Qt reads the facts from)
//   VERTAL_TEST_UNPLUG  a shell command that pulls the adapter out (QEMU's device_del) and
//   VERTAL_TEST_REPLUG  one that puts it back; without them the unplug case is skipped
//
// The unit is found by searching from 4800 baud with address 0 (the unit's is 1, firmware
// 1.5). Figures go out as "key=value" lines of qInfo for the script to check.
#include "mainwindow.h"
#include "modalwatcher.h"
#include "portlist.h"
#include "processclock.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// When the kernel last logged a message containing `text`, in seconds on the monotonic
// clock (the stamp of its log); 0 when it did not.
double kernelLogTime(const QByteArray &text)
{
    const int fd = ::open("/dev/kmsg", O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    double at = 0;
    char record[8192];
    for (ssize_t n; (n = ::read(fd, record, sizeof record - 1)) > 0 || (n < 0 && errno == EPIPE);) {
        if (n < 0)
            continue; // records overwritten while we read
        const QByteArray line(record, int(n));
        // "priority,sequence,microseconds,flags;message"
        if (line.contains(text))
            at = line.split(',').value(2).toDouble() / 1e6;
    }
    ::close(fd);
    return at;
}

} // namespace

class TestRealLine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void portListDescribesTheLine();
    void searchFindsTheUnit();
    void unplugDuringStatusTick();

private:
    template <class T> T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    // "Старт" with address 0; true once connected and polling.
    bool connectUnit();
    // Runs `command` (a shell line) to its end while the window processes events.
    static bool runCommand(const QString &command);

    QString port;
    std::unique_ptr<ModalWatcher> watcher;
    std::unique_ptr<MainWindow> window;
};

void TestRealLine::initTestCase()
{
    port = qEnvironmentVariable("VERTAL_TEST_PORT");
    if (port.isEmpty())
        QSKIP("VERTAL_TEST_PORT names no line");
}

void TestRealLine::init()
{
    watcher = std::make_unique<ModalWatcher>();
    window = std::make_unique<MainWindow>(nullptr, [this] { return QStringList{port}; });
    window->show();
}

void TestRealLine::cleanup()
{
    window.reset();
    watcher.reset();
}

bool TestRealLine::connectUnit()
{
    control<QSpinBox>("addr")->setValue(0);
    QTest::mouseClick(control<QPushButton>("start"), Qt::LeftButton);
    return control<QPushButton>("start")->text() == QStringLiteral("Стоп") && window->isPolling();
}

bool TestRealLine::runCommand(const QString &command)
{
    QProcess shell;
    shell.setProcessChannelMode(QProcess::ForwardedChannels);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    const bool ended =
        QTest::qWaitFor([&] { return shell.state() == QProcess::NotRunning; }, 20000);
    return ended && shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0;
}

// The window's own list (the system's ports, as the operator opens it) holds the line, and
// its tooltip says what the system knows of the device.
void TestRealLine::portListDescribesTheLine()
{
    MainWindow system;
    auto *ports = system.findChild<QComboBox *>(QStringLiteral("com_port"));
    const QString name = QFileInfo(port).fileName();
    const int index = ports->findText(name);
    QVERIFY2(index >= 0, qPrintable(itemsOf(ports).join(' ')));
    const QString tooltip = ports->itemData(index, Qt::ToolTipRole).toString();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.portName() != name)
            continue;
        qInfo("qt-description=%s", qPrintable(info.description()));
        qInfo("qt-manufacturer=%s", qPrintable(info.manufacturer()));
        qInfo("qt-usb=%04x:%04x", info.vendorIdentifier(), info.productIdentifier());
        qInfo("qt-serial=%s", qPrintable(info.serialNumber()));
    }
    qInfo("tooltip=%s", qPrintable(QString(tooltip).replace('\n', QStringLiteral(" | "))));
    QCOMPARE(tooltip, describePort(name));
    QCOMPARE(tooltip.section('\n', 0, 0), port);
    // Qt reads the adapter's facts from the udev database, which only a running udev fills.
    const QString usbId = qEnvironmentVariable("VERTAL_TEST_USB_ID");
    if (!usbId.isEmpty() && QFileInfo::exists(QStringLiteral("/run/udev/data")))
        QVERIFY2(tooltip.contains(usbId), qPrintable(tooltip));
}

// The search over the speeds, address 0 asked: the unit's address learnt, its version and
// boards shown, the status ticks running.
void TestRealLine::searchFindsTheUnit()
{
    // A USB-serial adapter's latency timer: 1 ms while the window holds the line, the old
    // value after (a UART has none).
    QFile timer(
        QStringLiteral("/sys/class/tty/%1/device/latency_timer").arg(QFileInfo(port).fileName()));
    const auto latency = [&timer] {
        timer.open(QIODevice::ReadOnly);
        const QByteArray ms = timer.readAll().trimmed();
        timer.close();
        return ms;
    };
    const QByteArray latencyBefore = timer.exists() ? latency() : QByteArray();
    QVERIFY(connectUnit());
    if (timer.exists())
        QCOMPARE(latency(), QByteArray("1"));
    QCOMPARE(control<QSpinBox>("addr")->value(), 1);
    QCOMPARE(control<QLabel>("version")->text(), QStringLiteral("Версия прошивки : 1.5"));
    QCOMPARE(itemsOf(control<QComboBox>("input")), QStringList{"1"});
    QVERIFY(watcher->boxes().isEmpty());
    QTest::qWait(1500); // a few status ticks
    QVERIFY2(watcher->boxes().isEmpty(), qPrintable(watcher->texts().join(' ')));
    QTest::mouseClick(control<QPushButton>("start"), Qt::LeftButton);
    QCOMPARE(openDescriptorsOn(port), 0);
    if (timer.exists())
        QCOMPARE(latency(), latencyBefore);
}

// The adapter pulled out while the window polls: "Ошибка обмена !", the port given back, no
// spinning afterwards; put back, the next search connects.
void TestRealLine::unplugDuringStatusTick()
{
    const QString unplug = qEnvironmentVariable("VERTAL_TEST_UNPLUG");
    const QString replug = qEnvironmentVariable("VERTAL_TEST_REPLUG");
    if (unplug.isEmpty() || replug.isEmpty())
        QSKIP("no way to pull the adapter out");
    QVERIFY(connectUnit());
    QTest::qWait(500);
    // Timed from the kernel's own word that the adapter has gone (its log is stamped on the
    // monotonic clock) to the box.
    double boxAt = 0;
    watcher->onBox = [&](const ModalWatcher::Box &) { boxAt = monotonicSeconds(); };
    QVERIFY(runCommand(unplug));
    QVERIFY(watcher->waitForBoxes(1, 10000));
    const double disconnectedAt = kernelLogTime("USB disconnect");
    QVERIFY(disconnectedAt > 0);
    qInfo("unplug-to-box-ms=%d", int((boxAt - disconnectedAt) * 1000));
    QCOMPARE(watcher->texts(), QStringList{"Ошибка обмена !"});
    QVERIFY(QTest::qWaitFor([&] { return !window->isPolling(); }, 5000));
    QCOMPARE(control<QPushButton>("start")->text(), QStringLiteral("Старт"));
    QCOMPARE(openDescriptorsOn(port), 0);
    const double cpuBefore = selfCpuSeconds();
    QTest::qWait(2000);
    qInfo("cpu-after-unplug-percent=%.1f", (selfCpuSeconds() - cpuBefore) * 100 / 2);

    QVERIFY(runCommand(replug));
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(port); }, 10000));
    watcher->clear();
    QVERIFY(connectUnit());
    QVERIFY(watcher->boxes().isEmpty());
}

QTEST_MAIN(TestRealLine)
#include "tst_realline.moc"
