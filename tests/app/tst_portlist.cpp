// The port list as the operator meets it: each port's description as a tooltip, on the
// closed combo too, and a list read again whenever it is opened while the window is idle.
#include "fontfit.h"
#include "mainwindow.h"
#include "portlist.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QSerialPortInfo>
#include <QStyleOptionComboBox>
#include <QTest>

namespace {
// Opens the list the way the operator does, then closes it again.
void openList(QComboBox *combo, bool withKeyboard)
{
    if (withKeyboard) {
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_F4);
    } else {
        QTest::mouseClick(combo, Qt::LeftButton);
    }
    combo->hidePopup();
}
} // namespace

class TestPortList : public QObject
{
    Q_OBJECT
private slots:
    void describesEveryPort();
    void tooltipsOnItemsAndClosedCombo();
    void openingTheListReadsThePortsAgain_data();
    void openingTheListReadsThePortsAgain();
    void extraLineAppearsAndDisappears();
    void listKeptWhileConnected();
    void comboItemsFitAfterFontChoice();
};

void TestPortList::describesEveryPort()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QStringList lines = describePort(info.portName()).split('\n');
        QCOMPARE(lines.first(), info.systemLocation());
        if (!info.manufacturer().isEmpty())
            QVERIFY(lines.contains("Производитель: " + info.manufacturer()));
    }
    QCOMPARE(describePort("/dev/serial/by-id/no-such-adapter"),
             QString("/dev/serial/by-id/no-such-adapter"));
}

void TestPortList::tooltipsOnItemsAndClosedCombo()
{
    MainWindow window(nullptr, [] { return QStringList{"ttyACM10", "/dev/serial/by-id/usb-x"}; });
    auto *ports = window.findChild<QComboBox *>("com_port");
    QCOMPARE(ports->itemData(0, Qt::ToolTipRole).toString(), describePort("ttyACM10"));
    QCOMPARE(ports->itemData(1, Qt::ToolTipRole).toString(), QString("/dev/serial/by-id/usb-x"));
    QCOMPARE(ports->toolTip(), describePort("ttyACM10"));
    ports->setCurrentIndex(1);
    QCOMPARE(ports->toolTip(), QString("/dev/serial/by-id/usb-x"));
}

void TestPortList::openingTheListReadsThePortsAgain_data()
{
    QTest::addColumn<bool>("withKeyboard");
    QTest::newRow("mouse") << false;
    QTest::newRow("F4") << true;
}

void TestPortList::openingTheListReadsThePortsAgain()
{
    QFETCH(bool, withKeyboard);
    QStringList system{"ttyS0", "ttyUSB0"};
    MainWindow window(nullptr, [&system] { return system; });
    window.show();
    auto *ports = window.findChild<QComboBox *>("com_port");
    ports->setCurrentIndex(1);

    system = QStringList{"ttyS0", "ttyACM0", "ttyUSB0"}; // an adapter plugged in
    openList(ports, withKeyboard);
    QCOMPARE(itemsOf(ports), system);
    QCOMPARE(ports->currentText(), QString("ttyUSB0")); // the choice stays
    QCOMPARE(ports->toolTip(), describePort("ttyUSB0"));

    system = QStringList{"ttyS0", "ttyACM0"}; // the chosen adapter unplugged
    openList(ports, withKeyboard);
    QCOMPARE(itemsOf(ports), system);
    QCOMPARE(ports->currentIndex(), 0);
}

void TestPortList::extraLineAppearsAndDisappears()
{
    qputenv("VERTAL_EXTRA_PORTS", "");
    MainWindow window(nullptr, [] { return QStringList{"COM1"} + listSerialPorts(); });
    window.show();
    auto *ports = window.findChild<QComboBox *>("com_port");
    SimUnit unit(UnitBench::defaultUnit());
    UnitServer line(unit);
    QVERIFY(line.start());
    qputenv("VERTAL_EXTRA_PORTS", line.devicePath().toLocal8Bit());
    openList(ports, false);
    QVERIFY(itemsOf(ports).contains(line.devicePath()));
    qputenv("VERTAL_EXTRA_PORTS", "");
    openList(ports, false);
    QVERIFY(!itemsOf(ports).contains(line.devicePath()));
    qunsetenv("VERTAL_EXTRA_PORTS");
}

void TestPortList::listKeptWhileConnected()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit());
    auto *ports = bench.control<QComboBox>("com_port");
    const QStringList before = itemsOf(ports);
    qputenv("VERTAL_EXTRA_PORTS", "/dev/pts/999");
    openList(ports, false);
    qunsetenv("VERTAL_EXTRA_PORTS");
    QCOMPARE(itemsOf(ports), before);
    QCOMPARE(bench.startText(), QString("Стоп"));
}

void TestPortList::comboItemsFitAfterFontChoice()
{
    MainWindow window(nullptr, [] { return QStringList{"COM1"}; });
    fitFontFamily(&window);
    auto *relays = window.findChild<QComboBox *>("output");
    relays->setEditable(true); // as with relay boards: the narrower field
    QStyleOptionComboBox option;
    option.initFrom(relays);
    option.editable = true;
    const QRect field = relays->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                        QStyle::SC_ComboBoxEditField, relays);
    const int room = field.width() - 4; // the line edit's own margins
    const int width = QFontMetrics(relays->font()).horizontalAdvance(relays->itemText(0));
    QVERIFY2(width <= room, qPrintable(QString("%1 > %2").arg(width).arg(room)));
    QVERIFY(relays->font().pointSizeF() >= 7.0);
}

QTEST_MAIN(TestPortList)
#include "tst_portlist.moc"
