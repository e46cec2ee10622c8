// Start-up of the main window: the idle picture, the port list, the icon, and the end of
// the program on a machine without a serial port.
#include "ccomport.h"
#include "childrun.h"
#include "dialog.h"
#include "fontfit.h"
#include "mainwindow.h"
#include "modalwatcher.h"
#include "portlist.h"
#include "standardtexts.h"
#include "vertalversion.h"
#include "windowlanguage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTest>
#include <QTranslator>
#include <QtEndian>

#include <memory>

namespace {
// Child mode "noPorts": builds the window with no port to offer, answering the box it
// raises. Reports each box seen as "box.*" lines (its title first), "shown" if the window
// is ever shown, "constructed" if the constructor returns. The constructor is expected to
// end the process.
class ShowSpy : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<MainWindow *>(watched))
            reportToParent("shown", "1");
        return false;
    }
};

QString yesNo(bool yes)
{
    return yes ? QStringLiteral("true") : QStringLiteral("false");
}

int runWithoutPorts()
{
    installStandardTexts(); // as the program does before it builds its window
    ShowSpy spy;
    qApp->installEventFilter(&spy);
    ModalWatcher watcher;
    watcher.onBox = [](const ModalWatcher::Box &box) {
        // Seen before it is answered: the box is still the active modal widget.
        const auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        const QAbstractButton *yes = shown ? shown->button(QMessageBox::Yes) : nullptr;
        reportToParent("box.title", box.title);
        reportToParent("box.yes", yes ? yes->text() : QString());
        reportToParent("box.text", box.text);
        reportToParent("box.buttons", QString::number(box.standardButtons));
        reportToParent("box.default", yesNo(box.hasDefaultButton));
        reportToParent("box.parent", box.parent ? box.parent->metaObject()->className() : "");
        reportToParent("box.parentVisible", yesNo(box.parent && box.parent->isVisible()));
    };
    MainWindow window(nullptr, [] { return QStringList(); });
    reportToParent("constructed", "1");
    window.show();
    return 3;
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void idlePicture();
    void titleAndNames();
    void icon();
    void portsInListedOrder();
    void windowsPortFilter_data();
    void windowsPortFilter();
    void extraPortsAppended_data();
    void extraPortsAppended();
    void noPortEndsTheProgram();
    void englishWindowFits();
};

void TestStartup::idlePicture()
{
    MainWindow window(nullptr, [] { return QStringList{"COM1"}; });
    auto *state = window.findChild<QLabel *>("state");
    QCOMPARE(state->text(), QString("  "));
    QCOMPARE(state->palette().color(QPalette::Window), QColor(Qt::lightGray));
    QCOMPARE(state->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(window.findChild<QComboBox *>("input")->count(), 0);
    auto *output = window.findChild<QComboBox *>("output");
    QCOMPARE(output->count(), 1);
    QCOMPARE(output->itemText(0), QString("Не задано"));
    QVERIFY(!output->isEditable());
    QCOMPARE(window.findChild<QLabel *>("version")->text(), QString());
    QVERIFY(!window.isPolling());
    QVERIFY(!window.primaryWorker());
    QVERIFY(!window.pollWorker());

    // Only the port, the address and Start are usable; set_rele stays as the form made it.
    const QStringList usable = {"com_port", "addr", "start"};
    for (const char *name : {"com_port", "addr", "start", "prog", "current_value", "a_time",
                             "a_period", "input", "output", "reset_rele", "set_rele"}) {
        QWidget *w = window.findChild<QWidget *>(name);
        QVERIFY2(w, name);
        QVERIFY2(w->isEnabled() == usable.contains(name), name);
    }
}

void TestStartup::titleAndNames()
{
    MainWindow window(nullptr, [] { return QStringList{"COM1"}; });
    QCOMPARE(window.windowTitle(), QString("ВЕРТАЛ-КП Визард v.1.05"));
    QCOMPARE(QCoreApplication::applicationName(), QString("ВЕРТАЛ-КП"));
    QVERIFY(window.parent() == nullptr);
}

void TestStartup::icon()
{
    QFile file(":/image/base_icon.bmp");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bmp = file.readAll();
    QVERIFY(bmp.size() >= 54);
    QCOMPARE(bmp.left(2), QByteArray("BM"));
    QCOMPARE(qFromLittleEndian<qint32>(bmp.constData() + 18), 24);           // width
    QCOMPARE(qFromLittleEndian<qint32>(bmp.constData() + 22), 24);           // height
    QCOMPARE(qFromLittleEndian<quint16>(bmp.constData() + 28), quint16(24)); // bits per pixel

    MainWindow window(nullptr, [] { return QStringList{"COM1"}; });
    const QIcon icon = window.windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(QSize(24, 24)).size(), QSize(24, 24));
    QVERIFY(!icon.pixmap(QSize(24, 24)).toImage().isNull());
}

void TestStartup::portsInListedOrder()
{
    MainWindow window(nullptr, [] { return QStringList{"COM3", "COM1"}; });
    auto *ports = window.findChild<QComboBox *>("com_port");
    QCOMPARE(ports->count(), 2);
    QCOMPARE(ports->itemText(0), QString("COM3"));
    QCOMPARE(ports->itemText(1), QString("COM1"));
    QCOMPARE(ports->currentIndex(), 0);
    QVERIFY(ports->itemData(0).isNull());
    QVERIFY(ports->itemIcon(0).isNull());
}

void TestStartup::windowsPortFilter_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("order kept") << QStringList{"COM3", "COM1"} << QStringList{"COM3", "COM1"};
    QTest::newRow("case and prefix")
        << QStringList{"com3", "\\\\.\\COM4", "/dev/COM5", "COM10", "Com2"} << QStringList{"COM10"};
    QTest::newRow("duplicates kept") << QStringList{"COM1", "COM1"} << QStringList{"COM1", "COM1"};
    QTest::newRow("none") << QStringList{"ttyS0", "ttyUSB0"} << QStringList();
}

void TestStartup::windowsPortFilter()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, kept);
    QCOMPARE(windowsPortNames(names), kept);
}

void TestStartup::extraPortsAppended_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QStringList>("extra");
    QTest::newRow("two paths") << QByteArray("/dev/pts/7:/tmp/unit")
                               << QStringList{"/dev/pts/7", "/tmp/unit"};
    QTest::newRow("empty entries skipped")
        << QByteArray("::/dev/pts/3::/dev/pts/3:") << QStringList{"/dev/pts/3", "/dev/pts/3"};
    QTest::newRow("empty") << QByteArray("") << QStringList();
}

void TestStartup::extraPortsAppended()
{
    QFETCH(QByteArray, variable);
    QFETCH(QStringList, extra);
    QStringList system;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        system << info.portName();
    qputenv("VERTAL_EXTRA_PORTS", variable);
    const QStringList listed = listSerialPorts();
    qunsetenv("VERTAL_EXTRA_PORTS");
    QCOMPARE(listed, system + extra);
}

void TestStartup::noPortEndsTheProgram()
{
    const ChildRun run = runSelfAsChild(QStringLiteral("noPorts"), {}, 60000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.has("constructed"), "the constructor returned");
    QVERIFY2(!run.has("shown"), "the window was shown");
    // One box and nothing else.
    QCOMPARE(run.valuesOf("box.title").size(), 1);
    QCOMPARE(run.keys.size(), 7);
    QCOMPARE(run.value("box.title"), QString("ВЕРТАЛ-КП"));
    QCOMPARE(run.value("box.text"), QString("COM-порт не обнаружен !\n Конец работы ..."));
    QCOMPARE(run.value("box.buttons").toInt(), int(QMessageBox::Yes));
    // Qt's standard texts in Russian, as the window's own (the shortcut mark aside).
    QCOMPARE(run.value("box.yes").remove('&'), QString("Да"));
    QCOMPARE(run.value("box.default"), QString("false"));
    QCOMPARE(run.value("box.parent"), QString("MainWindow"));
    QCOMPARE(run.value("box.parentVisible"), QString("false"));
}

// --language en: every text of the window and of the value dialog in English, and each
// fits its control once the font is chosen, as at start.
void TestStartup::englishWindowFits()
{
    QVERIFY(installWindowLanguage(QStringLiteral("en")));
    {
        MainWindow window(nullptr, [] { return QStringList{"COM1"}; });
        fitFontFamily(&window);
        QVERIFY(textsFit(&window));
        QCOMPARE(window.windowTitle(), QString("VERTAL-KP Wizard v." VERTAL_VERSION));
        QCOMPARE(window.findChild<QAbstractButton *>("start")->text(), QString("Start"));
        QCOMPARE(window.findChild<QComboBox *>("output")->itemText(0), QString("Not set"));
        for (const QWidget *w : window.findChildren<QWidget *>()) {
            QString text;
            if (auto *label = qobject_cast<const QLabel *>(w))
                text = label->text();
            else if (auto *button = qobject_cast<const QAbstractButton *>(w))
                text = button->text();
            QVERIFY2(!text.contains(QRegularExpression("[\\x{0400}-\\x{04FF}]")),
                     qPrintable(w->objectName() + ": " + text));
        }
        cComPort nowhere(QStringLiteral("/nonexistent/line")); // no event runs its timer
        Dialog dialog(&window, &nowhere, 1, 1);
        QVERIFY(textsFit(&dialog));
        QCOMPARE(dialog.findChild<QLabel *>("label")->text(), QString("Current value:"));
        QCOMPARE(dialog.findChild<QAbstractButton *>("done")->text(), QString("Done"));
    }
    for (QTranslator *translator : qApp->findChildren<QTranslator *>())
        QCoreApplication::removeTranslator(translator);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (childMode() == QLatin1String("noPorts"))
        return runWithoutPorts();
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
