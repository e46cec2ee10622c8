// The window on a real serial line with a unit at its far end (in the QEMU guest of
// scripts/drivers.sh: the 8250 UART driver, the FTDI USB-serial driver).
//
//   VERTAL_TEST_PORT    the line's device (/dev/ttyUSB0); without it every case is skipped
//   VERTAL_TEST_USB_ID  the adapter's USB vendor:product (0403:6001) the port list must show
//                       where udev runs (its database is what Qt reads the facts from)
//   VERTAL_TEST_UNPLUG  a shell command that pulls the adapter out (QEMU's device_del) and
//   VERTAL_TEST_REPLUG  one that puts it back; without them the unplug cases are skipped
//   VERTAL_TEST_ASK_UNIT  a shell command that, followed by a console line ("case open",
//                       "value 1 4660", "log"), hands that line to the simulator at the line's
//                       far end and prints what it answered; without it the cases that change
//                       the unit or read its frame log are skipped
//
// The unit (address 1, firmware 1.5, boards 0x29: input board 1, relay boards 2 and 3) is
// found by searching from 4800 baud with address 0. The window lists the system's ports, as
// on a desktop, and the line is chosen in it. Figures go out as "key=value" lines of qInfo
// for the script to check.
#include "ccomport.h"
#include "mainwindow.h"
#include "modalwatcher.h"
#include "portlist.h"
#include "processclock.h"
#include "windowchecks.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {

// When the kernel last logged a message that `pattern` matches, in seconds on the monotonic
// clock (the stamp of its log); 0 when it did not.
double kernelLogTime(const QRegularExpression &pattern)
{
    const int fd = ::open("/dev/kmsg", O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    double at = 0;
    char record[8192];
    for (ssize_t n; (n = ::read(fd, record, sizeof record - 1)) > 0 || (n < 0 && errno == EPIPE);) {
        if (n < 0)
            continue; // records overwritten while we read
        // "priority,sequence,microseconds,flags;message", then the record's key=value lines
        const QByteArray entry(record, int(n));
        const QString message = QString::fromUtf8(entry.mid(entry.indexOf(';') + 1));
        if (pattern.match(message.section(QLatin1Char('\n'), 0, 0)).hasMatch())
            at = entry.split(',').value(2).toDouble() / 1e6;
    }
    ::close(fd);
    return at;
}

// The payloads of the well-formed frames in the simulator's "log" answer, oldest first
// ("01 04 01": address, command, data).
QStringList payloadsIn(const QString &log)
{
    static const QRegularExpression frame(QStringLiteral(" payload ([0-9A-F ]+) check ok "));
    QStringList payloads;
    for (auto it = frame.globalMatch(log); it.hasNext();)
        payloads << it.next().captured(1);
    return payloads;
}

const char *const noAsk = "VERTAL_TEST_ASK_UNIT names no way to the line's simulator";
const char *const noUnplug = "no way to pull the adapter out";

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
    void caseOpenedAndClosed();
    void relayWriteCarriesTheForm();
    void valueDialogShowsTheUnitsValue();
    void unplugDuringStatusTick();
    void unplugDuringValueDialog();

private:
    template <class T> T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    // The line chosen in the port list, "Старт" with address 0; true once connected and
    // polling.
    bool connectUnit();
    // True when the window is connected: left so by the case before, or by a search now.
    bool connected();
    // Runs `command` (a shell line) to its end while the window processes events; what it
    // printed into `output` when given.
    static bool runCommand(const QString &command, QString *output = nullptr);
    // What the line's simulator answered to the console line `line` ("" when not asked).
    QString askUnit(const QString &line) const;
    // Runs `action` with the value dialog once "Текущее значение" has opened it; returns when
    // the dialog has closed and the button's handler has returned.
    void whileValueDialogOpen(const std::function<void(QDialog *)> &action);
    // Pulls the adapter out; true once the window has shown a box. Gives out the time from
    // the kernel's own word that the adapter has gone (its log is stamped on the monotonic
    // clock) to the box.
    bool pullOutAndTime();
    // Waits until the window's exchanges (the status ticks, the dialog's value polls: one
    // after another) have gone `count` further, the last one's reply painted.
    static bool exchangesPass(int count);
    // After the unplug: idle ("Старт", no poll), the port given back.
    bool idleAndReleased() const;
    // Gives out the share of a core the window uses once idle after the unplug.
    void checkNoSpinning();
    void recoversFromUnplug();
    // Opens the port list as the operator does (a press reads the system's ports afresh)
    // and closes it; true when the line is in it.
    bool lineListed() const;
    // The line gone from the port list; the adapter put back; true once the list shows the
    // line again (when udev has told the system of it).
    bool putBackAndListed();

    QString port;
    QString askCommand;
    QString unplugCommand;
    QString replugCommand;
    std::unique_ptr<ModalWatcher> watcher;
    std::unique_ptr<MainWindow> window;
};

void TestRealLine::initTestCase()
{
    port = qEnvironmentVariable("VERTAL_TEST_PORT");
    if (port.isEmpty())
        QSKIP("VERTAL_TEST_PORT names no line");
    askCommand = qEnvironmentVariable("VERTAL_TEST_ASK_UNIT");
    unplugCommand = qEnvironmentVariable("VERTAL_TEST_UNPLUG");
    replugCommand = qEnvironmentVariable("VERTAL_TEST_REPLUG");
    if (replugCommand.isEmpty())
        unplugCommand.clear();
}

// A window the case before left connected is used on (a search spends seconds at the two
// slow speeds); otherwise a new one.
void TestRealLine::init()
{
    if (!window) {
        watcher = std::make_unique<ModalWatcher>();
        window = std::make_unique<MainWindow>(); // the system's ports
        window->show();
    }
    watcher->clear();
}

void TestRealLine::cleanup()
{
    if (QTest::currentTestFailed() || !window->isPolling()) {
        window.reset();
        watcher.reset();
    }
}

bool TestRealLine::connected()
{
    return window->isPolling() || connectUnit();
}

bool TestRealLine::connectUnit()
{
    auto *ports = control<QComboBox>("com_port");
    // Listed by its name; a line named in VERTAL_EXTRA_PORTS by its path.
    int index = ports->findText(QFileInfo(port).fileName());
    if (index < 0)
        index = ports->findText(port);
    if (index < 0)
        return false;
    ports->setCurrentIndex(index);
    control<QSpinBox>("addr")->setValue(0);
    QTest::mouseClick(control<QPushButton>("start"), Qt::LeftButton);
    return control<QPushButton>("start")->text() == QStringLiteral("Стоп") && window->isPolling();
}

bool TestRealLine::runCommand(const QString &command, QString *output)
{
    QProcess shell;
    shell.setProcessChannelMode(output ? QProcess::ForwardedErrorChannel
                                       : QProcess::ForwardedChannels);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    const bool ended =
        QTest::qWaitFor([&] { return shell.state() == QProcess::NotRunning; }, 20000);
    if (output)
        *output = QString::fromUtf8(shell.readAllStandardOutput());
    return ended && shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0;
}

QString TestRealLine::askUnit(const QString &line) const
{
    QString answer;
    if (!runCommand(askCommand + QLatin1Char(' ') + line, &answer))
        qWarning("the simulator was not asked: %s", qPrintable(line));
    return answer;
}

void TestRealLine::whileValueDialogOpen(const std::function<void(QDialog *)> &action)
{
    // Looked for from the dialog's own event loop (the button's handler processes events
    // before it opens the dialog, too).
    QTimer look;
    look.callOnTimeout([&] {
        QDialog *dialog = openValueDialog();
        if (!dialog)
            return;
        look.stop();
        action(dialog);
        if (!QTest::qWaitFor([] { return openValueDialog() == nullptr; }, 5000))
            qWarning("the value dialog stayed open");
    });
    look.start(5);
    QTest::mouseClick(control<QPushButton>("current_value"), Qt::LeftButton);
}

bool TestRealLine::pullOutAndTime()
{
    double boxAt = 0;
    watcher->onBox = [&](const ModalWatcher::Box &) {
        if (boxAt == 0)
            boxAt = monotonicSeconds();
    };
    const bool boxed = runCommand(unplugCommand) && watcher->waitForBoxes(1, 10000);
    watcher->onBox = nullptr;
    // When the pull came while the driver was asking the adapter something, the kernel hangs
    // the line up only once that request times out (-110, after USB's 5 s): the window's
    // time counts from there, the wait before it being the kernel's.
    static const QRegularExpression lettingGo(
        QStringLiteral("USB disconnect|ftdi_sio .*: -110$"));
    const double disconnectedAt = kernelLogTime(lettingGo);
    if (!boxed || disconnectedAt <= 0)
        return false;
    qInfo("unplug-to-box-ms=%d", int((boxAt - disconnectedAt) * 1000));
    return true;
}

bool TestRealLine::exchangesPass(int count)
{
    // The one after the last has started only once the last was painted.
    const int started = cComPort::exchangesStarted() + count + 1;
    return QTest::qWaitFor([&] { return cComPort::exchangesStarted() >= started; }, 15000);
}

bool TestRealLine::idleAndReleased() const
{
    return !window->isPolling() &&
           control<QPushButton>("start")->text() == QStringLiteral("Старт") &&
           openDescriptorsOn(port) == 0;
}

void TestRealLine::checkNoSpinning()
{
    // From the end of the connection (its workers wound up), over long enough for the
    // guest's coarse CPU accounting: a spin would go on. The three seconds are the case.
    QVERIFY(
        QTest::qWaitFor([&] { return !window->primaryWorker() && !window->pollWorker(); }, 5000));
    const double cpuBefore = selfCpuSeconds();
    QTest::qWait(3000);
    qInfo("cpu-after-unplug-percent=%.1f", (selfCpuSeconds() - cpuBefore) * 100 / 3);
}

bool TestRealLine::lineListed() const
{
    auto *ports = control<QComboBox>("com_port");
    QTest::mouseClick(ports, Qt::LeftButton);
    ports->hidePopup();
    return ports->findText(QFileInfo(port).fileName()) >= 0;
}

bool TestRealLine::putBackAndListed()
{
    const auto listedWithin = [this](bool listed, int tries) {
        for (int i = 0; i < tries; ++i) {
            if (lineListed() == listed)
                return true;
            QTest::qWait(200);
        }
        return false;
    };
    return listedWithin(false, 25) && runCommand(replugCommand) && listedWithin(true, 50);
}

// The window's own list (the system's ports, as the operator opens it) holds the line, and
// its tooltip says what the system knows of the device.
void TestRealLine::portListDescribesTheLine()
{
    auto *ports = control<QComboBox>("com_port");
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
    QVERIFY(exchangesPass(3)); // a few status ticks
    QVERIFY2(watcher->boxes().isEmpty(), qPrintable(watcher->texts().join(' ')));
    QTest::mouseClick(control<QPushButton>("start"), Qt::LeftButton);
    QCOMPARE(openDescriptorsOn(port), 0);
    if (timer.exists())
        QCOMPARE(latency(), latencyBefore);
}

// The unit's case opened while the window polls: "Норма" painted on, nothing re-read. Closed
// again: the tick that sees it waits for the unit to settle, blanking the status, then
// re-reads the unit (boards, address as the search asked it, version, board 1's relay) and
// polls on, without a box.
void TestRealLine::caseOpenedAndClosed()
{
    if (askCommand.isEmpty())
        QSKIP(noAsk);
    QVERIFY(connected());
    auto *state = control<QLabel>("state");
    QCOMPARE(askUnit("case open"), QStringLiteral("case open\n"));
    askUnit("log clear");
    QVERIFY(exchangesPass(3)); // a few ticks with the tamper bit set
    QCOMPARE(state->text(), QStringLiteral("Норма"));
    QStringList frames = payloadsIn(askUnit("log"));
    QVERIFY2(frames.contains("01 04 01") && !frames.contains("01 05"),
             qPrintable(frames.join(',')));

    // The status texts in the order they are painted from here on.
    QStringList painted{state->text()};
    QTimer look;
    look.callOnTimeout([&] {
        if (painted.last() != state->text())
            painted << state->text();
    });
    look.start(5);
    askUnit("log clear");
    QCOMPARE(askUnit("case close"), QStringLiteral("case closed\n"));
    QVERIFY(QTest::qWaitFor([&] { return painted.size() >= 3 && window->isPolling(); }, 10000));
    QCOMPARE(painted, (QStringList{"Норма", "  ", "Норма"}));
    frames = payloadsIn(askUnit("log"));
    const qsizetype reread = frames.indexOf("01 05");
    QVERIFY2(reread > 0, qPrintable(frames.join(',')));
    QCOMPARE(frames.mid(reread, 4), (QStringList{"01 05", "00 20", "01 26", "01 0B 01"}));
    QCOMPARE(control<QLabel>("version")->text(), QStringLiteral("Версия прошивки : 1.5"));
    QCOMPARE(itemsOf(control<QComboBox>("output")), (QStringList{"Не задано", "2", "3"}));
    QVERIFY2(watcher->boxes().isEmpty(), qPrintable(watcher->texts().join(' ')));
}

// The operator sets board 1's alarm relay: relay 3, on for 45 s every 20 s, typed into the
// form, then "Установить". The unit receives one write carrying exactly that (times 16-bit,
// low byte first); the window polls on.
void TestRealLine::relayWriteCarriesTheForm()
{
    if (askCommand.isEmpty())
        QSKIP(noAsk);
    QVERIFY(connected());
    auto *output = control<QComboBox>("output");
    output->setCurrentIndex(output->findText("3"));
    for (const auto &[name, typed] : {std::pair{"a_time", "45"}, std::pair{"a_period", "20"}}) {
        auto *spin = control<QSpinBox>(name);
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, typed);
    }
    QCOMPARE(control<QSpinBox>("a_time")->value(), 45);
    QCOMPARE(control<QSpinBox>("a_period")->value(), 20);
    askUnit("log clear");
    QVERIFY(control<QPushButton>("set_rele")->isEnabled());
    QTest::mouseClick(control<QPushButton>("set_rele"), Qt::LeftButton);
    QVERIFY2(watcher->boxes().isEmpty(), qPrintable(watcher->texts().join(' ')));

    const QString log = askUnit("log");
    const QStringList writes = payloadsIn(log).filter(QRegularExpression("^01 2D "));
    QVERIFY2(writes == QStringList{"01 2D 01 03 2D 00 14 00"}, qPrintable(log));
    QVERIFY(window->isPolling());
    QCOMPARE(output->currentText(), QStringLiteral("3"));
}

// "Текущее значение" on the line: the dialog shows board 1's value as the unit has it, and
// follows it when it changes; closed, the window polls on.
void TestRealLine::valueDialogShowsTheUnitsValue()
{
    if (askCommand.isEmpty())
        QSKIP(noAsk);
    QCOMPARE(askUnit("value 1 4660"), QStringLiteral("board 1 value 4660\n"));
    QVERIFY(connected());
    QStringList shown; // the value once the unit's has come, then after it changed
    whileValueDialogOpen([&](QDialog *dialog) {
        const auto shows = [dialog](const char *value) {
            return QTest::qWaitFor([&] { return shownValue(dialog) == QLatin1String(value); },
                                   3000);
        };
        shows("4660");
        shown << shownValue(dialog);
        askUnit("value 1 65535");
        shows("65535");
        shown << shownValue(dialog);
        dialog->findChild<QAbstractButton *>(QStringLiteral("done"))->click();
    });
    QCOMPARE(shown, (QStringList{"4660", "65535"}));
    QVERIFY(openValueDialog() == nullptr);
    QVERIFY(window->isPolling());
    QVERIFY2(watcher->boxes().isEmpty(), qPrintable(watcher->texts().join(' ')));
    askUnit("value 1 0");
}

// The adapter pulled out while the window polls: "Ошибка обмена !", the port given back, no
// spinning afterwards; put back, the port list shows it again and the next search connects.
void TestRealLine::unplugDuringStatusTick()
{
    if (unplugCommand.isEmpty())
        QSKIP(noUnplug);
    QVERIFY(connected());
    QVERIFY(exchangesPass(1)); // polling
    QVERIFY(pullOutAndTime());
    QCOMPARE(watcher->texts(), QStringList{"Ошибка обмена !"});
    recoversFromUnplug();
}

// The adapter pulled out while the value dialog polls: "Ошибка обмена !", the dialog
// closed, the window idle with the port given back, no spinning; put back, the port list
// shows it again and the next search connects.
void TestRealLine::unplugDuringValueDialog()
{
    if (unplugCommand.isEmpty())
        QSKIP(noUnplug);
    QVERIFY(connected());
    bool pulled = false;
    const QWidget *dialogShown = nullptr;
    whileValueDialogOpen([&](QDialog *dialog) {
        dialogShown = dialog;
        pulled = exchangesPass(1) && pullOutAndTime(); // after a value poll
    });
    QVERIFY(pulled);
    QVERIFY(openValueDialog() == nullptr);
    // The dialog's box, then the window's own: its poll, resumed once the dialog has
    // closed, finds the port gone.
    QVERIFY(watcher->waitForBoxes(2, 5000));
    QCOMPARE(watcher->texts(), (QStringList{"Ошибка обмена !", "Ошибка обмена !"}));
    QVERIFY(watcher->boxes().first().parent == dialogShown);
    recoversFromUnplug();
}

// After an unplug: the window idle with the port given back, no spinning; the adapter put
// back, the port list shows it again and the next search connects.
void TestRealLine::recoversFromUnplug()
{
    QVERIFY(QTest::qWaitFor([&] { return idleAndReleased(); }, 5000));
    checkNoSpinning();
    QVERIFY(putBackAndListed());
    watcher->clear();
    QVERIFY(connectUnit());
    QVERIFY(watcher->boxes().isEmpty());
}

QTEST_MAIN(TestRealLine)
#include "tst_realline.moc"
