// A port that will not open: the box says why and what to do, and the search ends there,
// without the progress dialog and without "Блок не обнаружен!".
#include "childrun.h"
#include "portopenfailure.h"
#include "serialport.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

#include <unistd.h>

namespace {
const QString openFailureText = QStringLiteral("Не возможно открыть выбранный порт!");

// Child mode "start", run as an unprivileged user: presses "Старт" on the line named by its
// argument and reports each box it sees as "box.text" and "box.informative".
int runChild()
{
    const QString path = QCoreApplication::arguments().value(1);
    ModalWatcher watcher;
    watcher.onBox = [](const ModalWatcher::Box &box) {
        reportToParent("box.text", box.text);
        reportToParent("box.informative", box.informativeText);
    };
    MainWindow window(nullptr, [path] { return QStringList{path}; });
    window.show();
    QTest::mouseClick(window.findChild<QWidget *>("start"), Qt::LeftButton);
    return 0;
}

struct Outcome
{
    QList<ModalWatcher::Box> boxes;
    bool progressShown = false;
};

// Presses "Старт" on the bench and records what the operator saw.
Outcome pressStart(UnitBench &bench)
{
    Outcome outcome;
    bench.watcher.otherModal = [&outcome](QWidget *modal) {
        if (qobject_cast<QProgressDialog *>(modal))
            outcome.progressShown = true;
    };
    bench.connectUnit(1);
    bench.watcher.waitForBoxes(1, 2000);
    outcome.boxes = bench.watcher.boxes();
    return outcome;
}

void checkEndedAtOnce(const UnitBench &bench, const Outcome &outcome)
{
    QCOMPARE(outcome.boxes.size(), 1);
    QCOMPARE(outcome.boxes.first().text, openFailureText);
    QCOMPARE(outcome.boxes.first().title, QStringLiteral("ВЕРТАЛ-КП"));
    QCOMPARE(outcome.boxes.first().standardButtons, int(QMessageBox::Yes));
    QVERIFY(!outcome.progressShown);
    QCOMPARE(bench.startText(), QStringLiteral("Старт"));
    QVERIFY(!bench.window->primaryWorker());
    QVERIFY(bench.requests().isEmpty());
}
} // namespace

class TestPortOpenFailure : public QObject
{
    Q_OBJECT
private slots:
    void unpluggedPort();
    void unpluggedDuringSearch();
    void portHeldByAnotherProgram();
    void noPermission();
    void noGroupAdviceForRoot();
    void adviceForEachCause_data();
    void adviceForEachCause();
};

void TestPortOpenFailure::unpluggedPort()
{
    const LineName name;
    UnitBench bench(UnitBench::defaultUnit(), name.path());
    QVERIFY(bench.isReady());
    const QString path = name.path();
    bench.server.unplug();
    const Outcome outcome = pressStart(bench);
    checkEndedAtOnce(bench, outcome);
    if (QTest::currentTestFailed())
        return;
    const QString advice = outcome.boxes.first().informativeText;
    QVERIFY2(advice.contains(path) && advice.contains("не найден") &&
                 advice.contains("устройство отключено"),
             qPrintable(advice));
}

// The adapter pulled while the search is still on the first speeds (the unit answers only
// at 115200): the box says the port is gone, not that no unit answered, and the search
// gives up the other speeds at once.
void TestPortOpenFailure::unpluggedDuringSearch()
{
    UnitState state = UnitBench::defaultUnit();
    state.lineSpeed = 115200;
    const LineName name;
    UnitBench bench(state, name.path());
    QVERIFY(bench.isReady());
    const QString path = name.path();
    bench.when([&bench] { return !bench.requests().isEmpty(); },
               [&bench] { bench.server.unplug(); });
    QVERIFY(!bench.connectUnit(1));
    QVERIFY(bench.watcher.waitForBoxes(1, 2000));
    const QList<ModalWatcher::Box> boxes = bench.watcher.boxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, openFailureText);
    QCOMPARE(boxes.first().title, QStringLiteral("ВЕРТАЛ-КП"));
    QCOMPARE(boxes.first().standardButtons, int(QMessageBox::Yes));
    const QString advice = boxes.first().informativeText;
    QVERIFY2(advice.contains(path) && advice.contains("не найден") &&
                 advice.contains("устройство отключено"),
             qPrintable(advice));
    QCOMPARE(bench.requests().size(), 1); // the first speed's request, heard before the unplug
    QVERIFY(!bench.window->primaryWorker());
    QVERIFY(looksIdle(bench));
}

void TestPortOpenFailure::portHeldByAnotherProgram()
{
    UnitBench bench;
    QVERIFY(bench.isReady());
    SerialPort other;
    QVERIFY(other.open(bench.server.devicePath()));
    const Outcome outcome = pressStart(bench);
    checkEndedAtOnce(bench, outcome);
    if (QTest::currentTestFailed())
        return;
    const QString advice = outcome.boxes.first().informativeText;
    QVERIFY2(advice.contains("занят другой программой"), qPrintable(advice));
}

// The pseudo-terminal belongs to root and the group tty: a user outside that group may not
// open it, and is told which group to join.
void TestPortOpenFailure::noPermission()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to run the wizard as the unprivileged user nobody (runuser)");
    if (QStandardPaths::findExecutable("runuser").isEmpty())
        QSKIP("runuser is not installed");
    UnitBench bench;
    QVERIFY(bench.isReady());
    // As a serial device is on Debian: the group dialout may read and write it.
    const QString path = bench.server.devicePath();
    QVERIFY(QProcess::execute("chgrp", {"dialout", path}) == 0);
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadGroup | QFileDevice::WriteGroup));
    const QString group = deviceGroup(path);
    QCOMPARE(group, QString("dialout"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", "/tmp");
    env.remove("XDG_RUNTIME_DIR");
    const ChildRun run = runSelfAsChild(QStringLiteral("start"), {path}, 30000, env,
                                        {"runuser", "-u", "nobody", "--"});
    QVERIFY(run.finished);
    if (run.exitCode != 0 && run.out.trimmed().isEmpty())
        QSKIP(qPrintable("nobody cannot run the test program here: " + run.err));
    // One box and nothing else.
    QCOMPARE(run.keys, (QStringList{"box.text", "box.informative"}));
    QCOMPARE(run.value("box.text"), openFailureText);
    const QString advice = run.value("box.informative");
    QVERIFY2(advice.contains("sudo usermod -aG " + group + " $USER"), qPrintable(advice));
    QVERIFY2(advice.contains("Нет прав на порт " + path), qPrintable(advice));
}

// A device of root's group gets no advice to join it.
void TestPortOpenFailure::noGroupAdviceForRoot()
{
    QCOMPARE(deviceGroup("/"), QString());
    const QString advice = portOpenAdvice(SerialPort::Permission, "/", "Permission denied");
    QVERIFY2(!advice.contains("usermod"), qPrintable(advice));
    QVERIFY2(advice.contains("Нет прав на порт /"), qPrintable(advice));
}

void TestPortOpenFailure::adviceForEachCause_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("says");
    const QString dev = QStringLiteral("/dev/null");
    QTest::newRow("permission") << int(SerialPort::Permission) << dev << "Нет прав на порт";
    QTest::newRow("busy") << int(SerialPort::Busy) << dev << "занят другой программой";
    QTest::newRow("not found") << int(SerialPort::NotFound) << dev << "устройство отключено";
    QTest::newRow("gone") << int(SerialPort::Gone) << dev << "устройство отключено";
    QTest::newRow("other") << int(SerialPort::Unsupported) << dev
                           << "(Inappropriate ioctl for device)";
    // A server's name without its port is no unplugged device.
    QTest::newRow("network name without a port")
        << int(SerialPort::NotFound) << "tcp://server" << "Неверное имя сетевого порта";
    const QString server = QStringLiteral("rfc2217://serial-box.lan:2000");
    // A resolver that keeps silent is no unknown name: the advice is the DNS server or the
    // address, not the name's spelling.
    QTest::newRow("resolver silent") << int(SerialPort::ResolverSilent) << server
                                     << "Проверьте DNS-сервер сети или укажите IP-адрес";
    QTest::newRow("name not known")
        << int(SerialPort::HostNotFound) << server << "Проверьте имя сервера";
    QTest::newRow("reset at once")
        << int(SerialPort::ServerReset) << server << "сбросил соединение";
    QTest::newRow("broken Telnet")
        << int(SerialPort::BrokenServer) << server << "нарушает протокол Telnet";
    QTest::newRow("speed kept") << int(SerialPort::SpeedNotSet) << server
                                << "держит линию на другой скорости";
    // The operator's own "Стоп": no box at all.
    QTest::newRow("cancelled") << int(SerialPort::Cancelled) << server << QString();
}

void TestPortOpenFailure::adviceForEachCause()
{
    QFETCH(int, kind);
    QFETCH(QString, port);
    QFETCH(QString, says);
    const QString advice =
        portOpenAdvice(SerialPort::Error(kind), port, "Inappropriate ioctl for device");
    if (says.isEmpty()) {
        QVERIFY2(advice.isEmpty(), qPrintable(advice));
        return;
    }
    QVERIFY2(advice.contains(says), qPrintable(advice));
    QVERIFY2(advice.contains(port), qPrintable(advice));
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (childMode() == QLatin1String("start"))
        return runChild();
    TestPortOpenFailure test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_portopenfailure.moc"
