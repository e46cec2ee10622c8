// "Старт" against the simulated unit: the speed scan, address, version, boards, the first
// input board's relay, and every way the search can end.

#include "commandcodes.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QWidget>

class TestUnitSearch : public QObject
{
    Q_OBJECT
private slots:
    void connects_data();
    void connects();
    void progressDialog();
    void foundAtFastestSpeed();
    void noUnit();
    void openFailure();
    void cancel();
    void noBoards_data();
    void noBoards();
    void relayBoardsOnly();
    void exchangeFailure_data();
    void exchangeFailure();
    void inputBoardState_data();
    void inputBoardState();
};

using Requests = QList<QByteArray>;

namespace {

// Presses the progress dialog's "Стоп" once its bar stands at `value`; true if it did.
bool pressCancelAt(QWidget *modal, int value)
{
    auto *progress = qobject_cast<QProgressDialog *>(modal);
    if (!progress || progress->value() != value || progress->wasCanceled())
        return false;
    const auto buttons = progress->findChildren<QPushButton *>();
    if (buttons.isEmpty())
        return false;
    buttons.first()->click();
    return true;
}

} // namespace

void TestUnitSearch::connects_data()
{
    QTest::addColumn<int>("unitAddress");
    QTest::addColumn<int>("givenAddress");
    QTest::addColumn<int>("boardMap");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<Requests>("expected");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<QString>("version");

    QTest::newRow("address given, no 0x20")
        << 1 << 1 << 0x19 << 1 << 5
        << Requests{QByteArray::fromHex("0105"), QByteArray::fromHex("0126"),
                    QByteArray::fromHex("010B01")}
        << QStringList{"1", "3"} << QStringList{"Не задано", "2"}
        << QStringLiteral("Версия прошивки : 1.5");
    QTest::newRow("address 0 learnt with 0x20")
        << 200 << 0 << 0x19 << 2 << 15
        << Requests{QByteArray::fromHex("0005"), QByteArray::fromHex("0020"),
                    QByteArray::fromHex("C826"), QByteArray::fromHex("C80B01")}
        << QStringList{"1", "3"} << QStringList{"Не задано", "2"}
        << QStringLiteral("Версия прошивки : 2.15");
    QTest::newRow("map 0x29: one input, two relays")
        << 3 << 3 << 0x29 << 2 << 10
        << Requests{QByteArray::fromHex("0305"), QByteArray::fromHex("0326"),
                    QByteArray::fromHex("030B01")}
        << QStringList{"1"} << QStringList{"Не задано", "2", "3"}
        << QStringLiteral("Версия прошивки : 2.10");
    QTest::newRow("input board at 4 only")
        << 1 << 1 << 0x40 << 0 << 0
        << Requests{QByteArray::fromHex("0105"), QByteArray::fromHex("0126"),
                    QByteArray::fromHex("010B04")}
        << QStringList{"4"} << QStringList{"Не задано"} << QStringLiteral("Версия прошивки : 0.0");
}

void TestUnitSearch::connects()
{
    QFETCH(int, unitAddress);
    QFETCH(int, givenAddress);
    QFETCH(int, boardMap);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(Requests, expected);
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, outputs);
    QFETCH(QString, version);

    UnitState state = UnitBench::defaultUnit();
    state.address = quint8(unitAddress);
    state.boardMap = quint8(boardMap);
    state.versionMajor = quint8(major);
    state.versionMinor = quint8(minor);
    UnitBench bench(state);
    QVERIFY(bench.isReady());

    QVERIFY(bench.connectUnit(givenAddress));
    QCOMPARE(bench.requests().mid(0, expected.size()), expected);
    QCOMPARE(bench.control<QSpinBox>("addr")->value(), unitAddress);
    QCOMPARE(bench.window->currentUnitAddress(), unitAddress);
    QCOMPARE(bench.control<QLabel>("version")->text(), version);
    QCOMPARE(itemsOf(bench.control<QComboBox>("input")), inputs);
    QCOMPARE(bench.control<QComboBox>("input")->currentIndex(), 0);
    QCOMPARE(itemsOf(bench.control<QComboBox>("output")), outputs);
    QVERIFY(bench.watcher.boxes().isEmpty());

    // Input boards enable the status and value controls; relay boards the relay group.
    QStringList enabled{"current_value", "input", "start", "output"};
    if (outputs.size() > 1)
        enabled = QStringList{"current_value", "a_time", "a_period",  "input",
                              "start",         "output", "reset_rele"};
    QCOMPARE(enabledControls(bench), enabled);
    QCOMPARE(bench.control<QComboBox>("output")->isEditable(), outputs.size() > 1);

    // The poll runs on the address learnt, for the first input board.
    QVERIFY(bench.waitForTicks(1));
    const QByteArray tick = bench.requestsFor(CMD_READ_STATUS).first();
    QCOMPARE(tick, QByteArray(1, char(unitAddress)) + char(CMD_READ_STATUS) +
                       char(inputs.first().toInt()));
}

void TestUnitSearch::progressDialog()
{
    UnitBench bench;
    QVERIFY(bench.isReady());
    QString label, cancelText, title;
    int minimum = -1, maximum = -1, value = -1;
    bool autoClose = true;
    Qt::WindowModality modality = Qt::NonModal;
    bench.watcher.otherModal = [&](QWidget *modal) {
        auto *progress = qobject_cast<QProgressDialog *>(modal);
        if (!progress)
            return;
        label = progress->labelText();
        const auto buttons = progress->findChildren<QPushButton *>();
        if (!buttons.isEmpty())
            cancelText = buttons.first()->text();
        title = progress->windowTitle();
        minimum = progress->minimum();
        maximum = progress->maximum();
        value = progress->value();
        autoClose = progress->autoClose();
        modality = progress->windowModality();
    };
    // keeps the dialog up long enough to be looked at
    bench.server.injectFault(Fault::delay(200));
    QVERIFY(bench.connectUnit(1));
    QCOMPARE(label, QStringLiteral("Поиск блока..."));
    QCOMPARE(cancelText, QStringLiteral("Стоп"));
    QCOMPARE(title, QStringLiteral("ВЕРТАЛ-КП"));
    QCOMPARE(minimum, 0);
    QCOMPARE(maximum, 7);
    QCOMPARE(value, 0);
    QCOMPARE(autoClose, false);
    QCOMPARE(modality, Qt::WindowModal);
    // Nothing of the search is left on screen.
    QVERIFY(!bench.window->findChild<QProgressDialog *>());
}

// Five silent speeds first (about 14 s): the bar stands at 5 of 7 when the unit answers,
// and the port keeps 115200 for the rest of the connection. A "Стоп" pressed during the
// try that succeeds is not noticed.
void TestUnitSearch::foundAtFastestSpeed()
{
    UnitState state = UnitBench::defaultUnit();
    state.lineSpeed = 115200;
    UnitBench bench(state);
    QVERIFY(bench.isReady());
    int value = -1;
    bool pressed = false;
    bench.watcher.otherModal = [&](QWidget *modal) {
        if (auto *progress = qobject_cast<QProgressDialog *>(modal))
            value = progress->value();
        pressed = pressCancelAt(modal, 5) || pressed; // during the try that succeeds
    };
    // the answer at 115200 comes late enough for the bar to be looked at
    bench.server.injectFault(Fault::delay(200));
    QVERIFY(bench.connectUnit(1));
    QCOMPARE(value, 5);
    QVERIFY(pressed);

    QList<int> speeds;
    for (const ReceivedFrame &frame : bench.server.receivedFrames()) {
        if (speeds.isEmpty() || speeds.last() != frame.lineSpeed)
            speeds << frame.lineSpeed;
    }
    QCOMPARE(speeds, (QList<int>{4800, 9600, 19200, 38400, 57600, 115200}));
    for (int speed : {4800, 9600, 19200, 38400, 57600}) {
        int copies = 0;
        for (const ReceivedFrame &frame : bench.server.receivedFrames())
            copies += frame.lineSpeed == speed ? 1 : 0;
        QCOMPARE(copies, 9);
    }
    QVERIFY(bench.waitForTicks(1));
    QCOMPARE(bench.server.receivedFrames().last().lineSpeed, 115200);
    QCOMPARE(bench.stateText(), QStringLiteral("Норма"));
}

// A unit that answers another address: six silent speeds (about 17 s), one message, the
// window as it was, the port closed. A "Стоп" pressed during the last try changes nothing.
void TestUnitSearch::noUnit()
{
    UnitBench bench;
    QVERIFY(bench.isReady());
    const QStringList before = enabledControls(bench);
    // "Стоп" during the last try, which fails: not noticed, the search reports no unit.
    bool pressed = false;
    bench.watcher.otherModal = [&](QWidget *modal) {
        pressed = pressCancelAt(modal, 5) || pressed;
    };
    QVERIFY(!bench.connectUnit(7));
    QVERIFY(pressed);
    QCOMPARE(bench.watcher.texts(), QStringList{"Блок не обнаружен!"});
    const ModalWatcher::Box box = bench.watcher.boxes().first();
    QCOMPARE(box.title, QStringLiteral("ВЕРТАЛ-КП"));
    QCOMPARE(box.standardButtons, int(QMessageBox::Yes));
    QVERIFY(!box.hasDefaultButton);
    QCOMPARE(box.parent, bench.window.get());
    QCOMPARE(bench.startText(), QStringLiteral("Старт"));
    QCOMPARE(enabledControls(bench), before);
    QVERIFY(!bench.window->primaryWorker());
    QCOMPARE(openDescriptorsOn(bench.server.devicePath()), 0);
    QCOMPARE(bench.requests().size(), 6 * 9);
    QVERIFY(bench.requestsFor(CMD_READ_VERSION).isEmpty());
}

// The line went away before the search: the worker's own message, then every speed fails
// at once and the search reports that no unit answered.
void TestUnitSearch::openFailure()
{
    const LineName name;
    UnitBench bench(UnitBench::defaultUnit(), name.path());
    QVERIFY(bench.isReady());
    bench.server.unplug();
    QVERIFY(!bench.connectUnit(1));
    QCOMPARE(bench.watcher.texts(), (QStringList{"Не возможно открыть выбранный порт!"}));
    const ModalWatcher::Box box = bench.watcher.boxes().first();
    QCOMPARE(box.title, QStringLiteral("ВЕРТАЛ-КП"));
    QCOMPARE(box.standardButtons, int(QMessageBox::Yes));
    QVERIFY(!box.hasDefaultButton);
    QCOMPARE(box.parent, nullptr);
    QCOMPARE(bench.startText(), QStringLiteral("Старт"));
    QVERIFY(!bench.window->primaryWorker());
}

// "Стоп" in the progress dialog during the first (silent) try: noticed before the second.
void TestUnitSearch::cancel()
{
    UnitState state = UnitBench::defaultUnit();
    state.lineSpeed = 9600;
    UnitBench bench(state);
    QVERIFY(bench.isReady());
    const QStringList before = enabledControls(bench);
    bool pressed = false;
    bench.watcher.otherModal = [&](QWidget *modal) {
        auto *progress = qobject_cast<QProgressDialog *>(modal);
        if (!progress || pressed || bench.requests().isEmpty())
            return;
        pressed = true;
        const auto buttons = progress->findChildren<QPushButton *>();
        QVERIFY(!buttons.isEmpty());
        buttons.first()->click();
    };
    QVERIFY(!bench.connectUnit(1));
    QVERIFY(pressed);
    QVERIFY(bench.watcher.boxes().isEmpty());
    QCOMPARE(bench.startText(), QStringLiteral("Старт"));
    QCOMPARE(enabledControls(bench), before);
    QVERIFY(!bench.window->primaryWorker());
    QCOMPARE(openDescriptorsOn(bench.server.devicePath()), 0);
    for (const ReceivedFrame &frame : bench.server.receivedFrames())
        QCOMPARE(frame.lineSpeed, 4800);
    QVERIFY(!bench.window->findChild<QProgressDialog *>());
}

void TestUnitSearch::noBoards_data()
{
    QTest::addColumn<int>("boardMap");
    QTest::newRow("no boards") << 0x00;
    QTest::newRow("only unused codes") << 0xFF;
    QTest::newRow("unused and empty") << 0x33;
}

void TestUnitSearch::noBoards()
{
    QFETCH(int, boardMap);
    UnitState state = UnitBench::defaultUnit();
    state.boardMap = quint8(boardMap);
    UnitBench bench(state);
    QVERIFY(bench.isReady());
    QVERIFY(!bench.connectUnit(1));
    QCOMPARE(bench.watcher.texts(), QStringList{"Нет плат для настройки! Выход..."});
    QVERIFY(looksIdle(bench));
    QVERIFY(!bench.window->primaryWorker());
    QCOMPARE(openDescriptorsOn(bench.server.devicePath()), 0);
    QCOMPARE(bench.requests(), Requests{QByteArray::fromHex("0105")});
}

// Relay boards only: version shown and poll started, but no 0x0B and the enable state
// left as it was before the search.
void TestUnitSearch::relayBoardsOnly()
{
    UnitState state = UnitBench::defaultUnit();
    state.boardMap = 0xAA;
    UnitBench bench(state);
    QVERIFY(bench.connectUnit(1));
    QCOMPARE(bench.control<QLabel>("version")->text(), QStringLiteral("Версия прошивки : 1.5"));
    QVERIFY(bench.requestsFor(CMD_READ_ALARM_RELE).isEmpty());
    QCOMPARE(enabledControls(bench), (QStringList{"addr", "com_port", "start"}));
    QCOMPARE(itemsOf(bench.control<QComboBox>("output")),
             (QStringList{"Не задано", "1", "2", "3", "4"}));
    // With no input board selected every tick asks for board 0 and reads byte 0.
    QVERIFY(bench.waitForTicks(1));
    QCOMPARE(bench.requestsFor(CMD_READ_STATUS).first(), QByteArray::fromHex("010400"));
}

void TestUnitSearch::exchangeFailure_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("failing");
    QTest::addColumn<int>("fault");
    QTest::newRow("0x20 malformed") << 0 << int(CMD_READ_ADDRESS) << int(FaultKind::OddLength);
    QTest::newRow("0x26 malformed") << 1 << int(CMD_READ_VERSION) << int(FaultKind::BadHighDigit);
    QTest::newRow("0x0B line gone") << 1 << int(CMD_READ_ALARM_RELE) << int(FaultKind::Unplug);
}

// A step that fails: "Ошибка обмена !", the idle window, the port given back, no poll.
void TestUnitSearch::exchangeFailure()
{
    QFETCH(int, address);
    QFETCH(int, failing);
    QFETCH(int, fault);
    UnitBench bench;
    QVERIFY(bench.isReady());
    const QString device = bench.server.devicePath();
    bench.faultOn(quint8(failing), FaultKind(fault));
    QVERIFY(!bench.connectUnit(address));
    QCOMPARE(bench.watcher.texts(), QStringList{"Ошибка обмена !"});
    QCOMPARE(bench.watcher.boxes().first().parent, bench.window.get());
    QVERIFY(looksIdle(bench));
    QVERIFY(!bench.window->primaryWorker());
    QVERIFY(!bench.window->pollWorker());
    QCOMPARE(openDescriptorsOn(device), 0);
    QCOMPARE(quint8(bench.requests().last().at(1)), quint8(failing));
    QTest::qWait(700); // the time is the case: past the poll's 500 ms period, no tick comes
    QVERIFY(bench.requestsFor(CMD_READ_STATUS).isEmpty());
}

void TestUnitSearch::inputBoardState_data()
{
    QTest::addColumn<int>("relay");
    QTest::addColumn<int>("onTime");
    QTest::addColumn<int>("period");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("shownTime");
    QTest::addColumn<int>("shownPeriod");
    // Spin boxes hold 7 and 3 before the search; they keep them when no relay is shown.
    QTest::newRow("relay board 2") << 2 << 300 << 60 << "2" << 300 << 60;
    QTest::newRow("relay board 2, 30 s / 5 s") << 2 << 30 << 5 << "2" << 30 << 5;
    QTest::newRow("relay 0") << 0 << 30 << 5 << "Не задано" << 7 << 3;
    QTest::newRow("relay names an input board") << 3 << 30 << 5 << "Не задано" << 7 << 3;
    QTest::newRow("relay above 4") << 5 << 30 << 5 << "Не задано" << 7 << 3;
    QTest::newRow("clamped to the spin ranges") << 2 << 400 << 0x0E10 << "2" << 300 << 120;
}

void TestUnitSearch::inputBoardState()
{
    QFETCH(int, relay);
    QFETCH(int, onTime);
    QFETCH(int, period);
    QFETCH(QString, shown);
    QFETCH(int, shownTime);
    QFETCH(int, shownPeriod);
    UnitState state = UnitBench::defaultUnit();
    state.alarmRelay[0] = {quint8(relay), quint16(onTime), quint16(period)};
    UnitBench bench(state);
    QVERIFY(bench.isReady());
    bench.control<QSpinBox>("a_time")->setValue(7);
    bench.control<QSpinBox>("a_period")->setValue(3);
    QVERIFY(bench.connectUnit(1));
    QCOMPARE(bench.control<QComboBox>("output")->currentText(), shown);
    QCOMPARE(bench.control<QSpinBox>("a_time")->value(), shownTime);
    QCOMPARE(bench.control<QSpinBox>("a_period")->value(), shownPeriod);
    // Showing the assignment does not leave "Установить" enabled.
    QVERIFY(!bench.control<QPushButton>("set_rele")->isEnabled());
}

QTEST_MAIN(TestUnitSearch)
#include "tst_unitsearch.moc"
