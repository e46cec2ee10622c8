// The serial line and the exchange worker on a real COM port with a unit at its far end.
//
//   VERTAL_TEST_COM          the port's name (COM5); without it every case is skipped
//   VERTAL_TEST_SPEED        the unit's line speed (19200)
//   VERTAL_TEST_ADDRESS      the unit's address (1)
//   VERTAL_TEST_SIM_CONSOLE  a file whose lines reach the simulated unit's console (a FIFO
//                            seen through Wine's Z: drive); the cases that play a fault on
//                            the line need it and are skipped without it
//   VERTAL_TEST_FAR_END      a file whose words reach the program at the line's far end that
//                            keeps the slave side of its pseudo-terminal open as well:
//                            "hold" (open it), "stall" (stop its output: the line takes no
//                            bytes), "drop" (close both sides at once); without it the cases
//                            of such a far end are skipped
//   VERTAL_TEST_SIM_LOG, VERTAL_TEST_FAR_END_LOG
//                            the files where those two answer each line they act on: a
//                            line told counts once its answer is there
#include "ccomport.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "exchangetiming.h"
#include "linespeeds.h"
#include "serialport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>
#include <windows.h>

namespace {

// Wait of the worker with no answer: every send followed by its quiet polls.
constexpr qint64 fullNoAnswerMs = exchangeTiming::quietExchange.count();

qint64 processCpuMs()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME &t) {
        return (quint64(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000;
    };
    return qint64(ticks(kernel) + ticks(user));
}

int envNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace

class TestComPort : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void opensAndReopens();
    void settingsRestoredOnClose();
    void secondOpenIsRefused();
    void missingPortIsNotFound();
    void answersOnlyAtItsOwnSpeed_data();
    void answersOnlyAtItsOwnSpeed();
    void replyInChunks();
    void noAnswerWaitsWithoutSpinning();
    void unplugEndsTheExchange_data();
    void unplugEndsTheExchange();

private:
    QString path() const { return QStringLiteral("\\\\.\\") + portName; }
    // Sends one line to the simulated unit's console; false when there is none.
    bool tellUnit(const QByteArray &line) { return tell(console, consoleLog, line); }
    // Sends one word to the far end's own hold on the line; false when there is none.
    bool tellFarEnd(const QByteArray &word) { return tell(farEnd, farEndLog, word); }
    static bool tell(const QString &file, const QString &log, const QByteArray &line);
    int exchangeAt(cComPort &worker, int speed, QByteArray &payload);

    QString portName;
    QString console;
    QString farEnd;
    QString consoleLog;
    QString farEndLog;
    int unitSpeed = 19200;
    int address = 1;
};

void TestComPort::initTestCase()
{
    portName = qEnvironmentVariable("VERTAL_TEST_COM");
    console = qEnvironmentVariable("VERTAL_TEST_SIM_CONSOLE");
    farEnd = qEnvironmentVariable("VERTAL_TEST_FAR_END");
    consoleLog = qEnvironmentVariable("VERTAL_TEST_SIM_LOG");
    farEndLog = qEnvironmentVariable("VERTAL_TEST_FAR_END_LOG");
    unitSpeed = envNumber("VERTAL_TEST_SPEED", 19200);
    address = envNumber("VERTAL_TEST_ADDRESS", 1);
    if (portName.isEmpty())
        QSKIP("VERTAL_TEST_COM names no port");
}

// Lines in the answer file `log` so far.
static int answeredLines(const QString &log)
{
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : -1;
}

bool TestComPort::tell(const QString &file, const QString &log, const QByteArray &line)
{
    if (file.isEmpty() || log.isEmpty())
        return false;
    const int answered = answeredLines(log);
    const HANDLE h =
        ::CreateFileW(reinterpret_cast<const wchar_t *>(file.utf16()), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const QByteArray text = line + '\n';
    DWORD written = 0;
    const bool ok = ::WriteFile(h, text.constData(), DWORD(text.size()), &written, nullptr);
    ::CloseHandle(h);
    // The far end acts on its own time: the line counts once its answer is written.
    const bool acted = QTest::qWaitFor([&] { return answeredLines(log) > answered; }, 10000);
    return ok && written == DWORD(text.size()) && acted;
}

int TestComPort::exchangeAt(cComPort &worker, int speed, QByteArray &payload)
{
    worker.setBaudRate(speed);
    return worker.exchange(payload, false);
}

void TestComPort::opensAndReopens()
{
    SerialPort port;
    QVERIFY2(port.open(path()), qPrintable(port.lastErrorString()));
    QVERIFY(port.handle() != -1);
    QCOMPARE(port.error(), SerialPort::NoError);
    for (int speed : unitLineSpeeds)
        QVERIFY2(port.setBaudRate(speed), qPrintable(port.lastErrorString()));
    QVERIFY(!port.setBaudRate(1200));
    QCOMPARE(port.error(), SerialPort::Unsupported);
    port.close();
    QVERIFY(!port.isOpen());
    // Closing hands the port back: it opens again at once.
    QVERIFY2(port.open(path()), qPrintable(port.lastErrorString()));
}

// What another program left on the port (here 9600 baud, 2 stop bits) is what it finds again
// after the wizard has used the port at other settings.
void TestComPort::settingsRestoredOnClose()
{
    const auto withRawPort = [this](auto &&use) {
        const HANDLE h =
            ::CreateFileW(reinterpret_cast<const wchar_t *>(path().utf16()),
                          GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        QVERIFY(h != INVALID_HANDLE_VALUE);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        QVERIFY(::GetCommState(h, &dcb));
        use(h, dcb);
        ::CloseHandle(h);
    };
    DCB before{};
    withRawPort([&](HANDLE h, DCB &dcb) {
        before = dcb;
        dcb.BaudRate = CBR_9600;
        dcb.StopBits = TWOSTOPBITS;
        QVERIFY(::SetCommState(h, &dcb));
    });
    {
        SerialPort port;
        QVERIFY(port.open(path()));
        QVERIFY(port.setBaudRate(115200));
    }
    withRawPort([&](HANDLE h, DCB &dcb) {
        QCOMPARE(dcb.BaudRate, DWORD(CBR_9600));
        QCOMPARE(int(dcb.StopBits), TWOSTOPBITS);
        QVERIFY(::SetCommState(h, &before));
    });
}

void TestComPort::secondOpenIsRefused()
{
    SerialPort first;
    QVERIFY(first.open(path()));
    SerialPort second;
    QVERIFY(!second.open(path()));
    QCOMPARE(second.error(), SerialPort::Busy);
    QVERIFY(!second.lastErrorString().isEmpty());
    qInfo("second open refused: %s", qPrintable(second.lastErrorString()));
    first.close();
    QVERIFY2(second.open(path()), qPrintable(second.lastErrorString()));
}

void TestComPort::missingPortIsNotFound()
{
    SerialPort port;
    QVERIFY(!port.open(QStringLiteral("\\\\.\\COM251")));
    QCOMPARE(port.error(), SerialPort::NotFound);
    QVERIFY(!port.isOpen());
}

void TestComPort::answersOnlyAtItsOwnSpeed_data()
{
    QTest::addColumn<int>("speed");
    for (int speed : unitLineSpeeds)
        QTest::newRow(qPrintable(QString::number(speed))) << speed;
}

void TestComPort::answersOnlyAtItsOwnSpeed()
{
    QFETCH(int, speed);
    cComPort worker(portName); // opens \\.\COMn as the wizard does
    QVERIFY(worker.serialPort()->isOpen());
    QByteArray payload = command::readBoards(address);
    const int result = exchangeAt(worker, speed, payload);
    if (speed == unitSpeed) {
        QCOMPARE(result, int(Ok));
        QVERIFY(payload.size() >= 2);
    } else {
        QCOMPARE(result, int(NoReply));
    }
}

void TestComPort::replyInChunks()
{
    cComPort worker(portName);
    if (!tellUnit("fault chunked 3"))
        QSKIP("no console of a simulated unit");
    QByteArray payload = command::readVersion(address);
    QCOMPARE(exchangeAt(worker, unitSpeed, payload), int(Ok));
    QVERIFY(command::versionMajor(payload) != 0 || command::versionMinor(payload) != 0);
}

void TestComPort::noAnswerWaitsWithoutSpinning()
{
    cComPort worker(portName);
    const int wrongSpeed = unitSpeed == 4800 ? 9600 : 4800;
    QByteArray payload = command::readBoards(address);
    QElapsedTimer wall;
    wall.start();
    const qint64 cpuBefore = processCpuMs();
    QCOMPARE(exchangeAt(worker, wrongSpeed, payload), int(NoReply));
    const qint64 elapsed = wall.elapsed();
    const qint64 cpu = processCpuMs() - cpuBefore;
    qInfo("no answer: %lld ms, CPU %lld ms", elapsed, cpu);
    // The worker listened out its full budget ...
    QVERIFY2(elapsed >= fullNoAnswerMs * 8 / 10, qPrintable(QString::number(elapsed)));
    // ... and slept through it: a spinning wait would burn about as much CPU as time.
    QVERIFY2(cpu * 4 < elapsed, qPrintable(QString::number(cpu)));
}

// The ways a line goes away under a working exchange, each told to the far end as words:
// "unit:" lines go to the simulator's console, "far:" words to the far end's own hold.
void TestComPort::unplugEndsTheExchange_data()
{
    QTest::addColumn<QByteArrayList>("steps");
    QTest::newRow("hang-up instead of the reply") << QByteArrayList{"unit:fault unplug"};
    QTest::newRow("far end closes both sides") << QByteArrayList{"far:hold", "far:drop"};
    QTest::newRow("line takes no bytes") << QByteArrayList{"far:hold", "far:stall"};
}

void TestComPort::unplugEndsTheExchange()
{
    QFETCH(QByteArrayList, steps);
    cComPort worker(portName);
    QByteArray payload = command::readBoards(address);
    QCOMPARE(exchangeAt(worker, unitSpeed, payload), int(Ok));
    bool farEndUsed = false;
    for (const QByteArray &step : std::as_const(steps)) {
        const bool toFarEnd = step.startsWith("far:");
        farEndUsed |= toFarEnd;
        const QByteArray word = step.mid(step.indexOf(':') + 1);
        const int simAnswers = answeredLines(consoleLog);
        if (!(toFarEnd ? tellFarEnd(word) : tellUnit(word)))
            QSKIP("no console of a simulated unit, or no far end's hold on the line");
        // "drop" hangs up through the simulator's console as well: the line is gone once
        // the simulator has answered that too.
        if (word == "drop")
            QVERIFY(QTest::qWaitFor([&] { return answeredLines(consoleLog) > simAnswers; }, 10000));
    }
    payload = command::readBoards(address);
    QElapsedTimer wall;
    wall.start();
    const int result = exchangeAt(worker, unitSpeed, payload);
    const qint64 elapsed = wall.elapsed();
    qInfo("the line went away: the exchange ended after %lld ms: %s", elapsed,
          qPrintable(worker.serialPort()->lastErrorString()));
    if (farEndUsed)
        tellFarEnd("drop");
    tellUnit("replug");
    QCOMPARE(result, int(NoReply));
    QVERIFY(worker.serialPort()->isGone());
    QCOMPARE(worker.serialPort()->error(), SerialPort::Gone);
    // Well before the nine sends a silent line would take.
    QVERIFY2(elapsed < fullNoAnswerMs / 2, qPrintable(QString::number(elapsed)));
}

QTEST_MAIN(TestComPort)
#include "tst_comport.moc"
