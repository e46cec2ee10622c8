// The main window's shared operations: the control mask, the status looks and the poll
// pause/resume around exchanges.
#include "mainwindow.h"
#include "statuslooks.h"
#include "windowchecks.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <memory>

namespace {
// Counts the events posted to it: shows whether a call processed pending events.
class EventCounter : public QObject
{
public:
    int seen = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User) {
            ++seen;
            return true;
        }
        return QObject::event(e);
    }
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
};

// What enableControls decides, read back from the window.
struct ControlState
{
    bool addr, comPort, prog, currentValue, aTime, aPeriod, input, output, outputEditable, start,
        resetRele;
    bool operator==(const ControlState &o) const
    {
        return std::tie(addr, comPort, prog, currentValue, aTime, aPeriod, input, output,
                        outputEditable, start, resetRele) ==
               std::tie(o.addr, o.comPort, o.prog, o.currentValue, o.aTime, o.aPeriod, o.input,
                        o.output, o.outputEditable, o.start, o.resetRele);
    }
};
} // namespace

Q_DECLARE_METATYPE(ControlState)

namespace QTest {
template <> char *toString(const ControlState &s)
{
    return qstrdup(QString("addr %1 com_port %2 prog %3 current_value %4 a_time %5 a_period %6 "
                           "input %7 output %8 output-editable %9 start %10 reset_rele %11")
                       .arg(s.addr)
                       .arg(s.comPort)
                       .arg(s.prog)
                       .arg(s.currentValue)
                       .arg(s.aTime)
                       .arg(s.aPeriod)
                       .arg(s.input)
                       .arg(s.output)
                       .arg(s.outputEditable)
                       .arg(s.start)
                       .arg(s.resetRele)
                       .toUtf8()
                       .constData());
}
} // namespace QTest

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void enableControls_data();
    void enableControls();
    void unusedBitsChangeNothing_data();
    void unusedBitsChangeNothing();
    void enableControlsLeavesSetReleAlone();
    void showStatus_data();
    void showStatus();
    void showStatusKeepsFrameAndAlignment();
    void stopPollWhenStoppedProcessesNothing();
    void startPollWhenRunningProcessesNothingAndKeepsPeriod();
    void pollSwitchesProcessEventsWhenTheyAct();
    void startPollSurvivesAStopFromAHandler();

private:
    template <class T> T *find(const char *name) const
    {
        T *w = window->findChild<T *>(name);
        Q_ASSERT(w);
        return w;
    }
    ControlState state() const
    {
        return {find<QSpinBox>("addr")->isEnabled(),
                find<QComboBox>("com_port")->isEnabled(),
                find<QPushButton>("prog")->isEnabled(),
                find<QPushButton>("current_value")->isEnabled(),
                find<QSpinBox>("a_time")->isEnabled(),
                find<QSpinBox>("a_period")->isEnabled(),
                find<QComboBox>("input")->isEnabled(),
                find<QComboBox>("output")->isEnabled(),
                find<QComboBox>("output")->isEditable(),
                find<QPushButton>("start")->isEnabled(),
                find<QPushButton>("reset_rele")->isEnabled()};
    }
    std::unique_ptr<MainWindow> window;
    ScreenReaderLog announced;
};

void TestMainWindow::init()
{
    window = std::make_unique<MainWindow>(nullptr, [] { return QStringList{"COM1"}; });
}

void TestMainWindow::cleanup()
{
    window.reset();
}

void TestMainWindow::enableControls_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("mask");
    QTest::addColumn<ControlState>("expected");
    //                 addr  com   prog   cur    time   period input  out    edit   start  reset
    const ControlState idle{true,  true,  false, false, false, false,
                            false, false, false, true,  false};
    const ControlState input{false, false, false, true, false, false,
                             true,  true,  false, true, false};
    const ControlState relay{false, false, false, false, true, true,
                             false, false, true,  false, true};
    const ControlState both{false, false, false, true, true, true, true, true, true, true, true};
    // Each mask from a window with everything on and from one with everything off, so that
    // every control really is switched, not just left as it was.
    for (int before : {0x3fff, 0}) {
        const QByteArray from = before ? " from all on" : " from all off";
        QTest::newRow("idle 0x1003" + from) << before << 0x1003 << idle;
        QTest::newRow("input board 0x1878" + from) << before << 0x1878 << input;
        QTest::newRow("relay board 0x2780" + from) << before << 0x2780 << relay;
        QTest::newRow("board type 0x3ff8" + from) << before << 0x3ff8 << both;
        QTest::newRow("input | relay" + from) << before << (0x1878 | 0x2780) << both;
        QTest::newRow("only prog" + from)
            << before << 0x4 << ControlState{false, false, true,  false, false, false,
                                             false, false, false, false, false};
    }
}

void TestMainWindow::enableControls()
{
    QFETCH(int, before);
    QFETCH(int, mask);
    QFETCH(ControlState, expected);
    window->enableControls(before);
    window->enableControls(mask);
    QCOMPARE(state(), expected);
}

void TestMainWindow::unusedBitsChangeNothing_data()
{
    QTest::addColumn<int>("mask");
    for (int mask : {0, 0x1003, 0x1878 & ~0x38, 0x2780 & ~0x2200, 0x3fff & ~0x2238})
        QTest::newRow(QByteArray::number(mask, 16)) << mask;
}

void TestMainWindow::unusedBitsChangeNothing()
{
    QFETCH(int, mask);
    const int unused = (1 << 3) | (1 << 4) | (1 << 5) | (1 << 9) | (1 << 13);
    window->enableControls(mask);
    const ControlState without = state();
    window->enableControls(0x3fff ^ mask);
    window->enableControls(mask | unused);
    QCOMPARE(state(), without);
}

void TestMainWindow::enableControlsLeavesSetReleAlone()
{
    auto *setRele = find<QPushButton>("set_rele");
    for (bool on : {true, false}) {
        setRele->setEnabled(on);
        for (int mask : {0x1003, 0x1878, 0x2780, 0x3ff8, 0x3fff, 0}) {
            window->enableControls(mask);
            QCOMPARE(setRele->isEnabled(), on);
        }
    }
}

void TestMainWindow::showStatus_data()
{
    QTest::addColumn<int>("look");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QString>("spoken"); // what a screen reader is told
    QTest::newRow("idle") << 0 << "  " << QColor(Qt::lightGray) << "Опрос не идёт";
    QTest::newRow("normal") << 1 << "Норма" << QColor(Qt::green) << "Норма";
    QTest::newRow("fault") << 2 << "Неисправность" << QColor(Qt::yellow) << "Неисправность";
    QTest::newRow("alarm") << 3 << "Тревога" << QColor(Qt::red) << "Тревога";
}

void TestMainWindow::showStatus()
{
    QFETCH(int, look);
    QFETCH(QString, text);
    QFETCH(QColor, background);
    QFETCH(QString, spoken);
    auto *state = find<QLabel>("state");
    // From every other look, so that each colour is really painted.
    for (int from = 0; from < statusLookCount; ++from) {
        window->showStatus(from);
        announced.clear();
        window->showStatus(look);
        QCOMPARE(state->text(), text);
        QCOMPARE(state->accessibleDescription(), spoken);
        // Announced once on a change of look, not at all when it stays.
        QCOMPARE(announced.count(state), from == look ? 0 : 1);
        const QPalette palette = state->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            QCOMPARE(palette.brush(group, QPalette::Window).color(), background);
            QCOMPARE(palette.brush(group, QPalette::Window).style(), Qt::SolidPattern);
            QCOMPARE(palette.brush(group, QPalette::WindowText).color(), QColor(Qt::black));
            QCOMPARE(palette.brush(group, QPalette::WindowText).style(), Qt::SolidPattern);
        }
    }
}

void TestMainWindow::showStatusKeepsFrameAndAlignment()
{
    auto *state = find<QLabel>("state");
    const QColor button = state->palette().color(QPalette::Button);
    window->showStatus(1);
    window->showStatus(3);
    QCOMPARE(state->frameShape(), QFrame::Box);
    QCOMPARE(state->alignment(), Qt::AlignCenter);
    QVERIFY(state->autoFillBackground());
    QCOMPARE(state->palette().color(QPalette::Button), button); // other roles untouched
}

void TestMainWindow::stopPollWhenStoppedProcessesNothing()
{
    QVERIFY(!window->isPolling());
    EventCounter counter;
    counter.post();
    window->stopPoll();
    QCOMPARE(counter.seen, 0);
    QVERIFY(!window->isPolling());
}

void TestMainWindow::startPollWhenRunningProcessesNothingAndKeepsPeriod()
{
    window->startPoll();
    QVERIFY(window->isPolling());
    // Let some of the period run out (a tick that comes meanwhile starts a new one).
    QTRY_VERIFY_WITH_TIMEOUT(window->pollRemainingMs() <= 450, 10000);
    EventCounter counter;
    counter.post();
    const int before = window->pollRemainingMs();
    QVERIFY(before < 500);
    window->startPoll();
    const int after = window->pollRemainingMs();
    QCOMPARE(counter.seen, 0);
    QVERIFY2(after <= before, qPrintable(QString("%1 > %2").arg(after).arg(before)));
    window->stopPoll();
}

void TestMainWindow::pollSwitchesProcessEventsWhenTheyAct()
{
    EventCounter counter;
    counter.post();
    window->startPoll();
    QCOMPARE(counter.seen, 1);
    QVERIFY(window->isPolling());
    counter.post();
    window->stopPoll();
    QCOMPARE(counter.seen, 2);
    QVERIFY(!window->isPolling());
}

void TestMainWindow::startPollSurvivesAStopFromAHandler()
{
    // A handler run while startPoll processes events stops the poll again: startPoll must
    // still leave it running.
    int stops = 0;
    QMetaObject::invokeMethod(
        window.get(),
        [&] {
            ++stops;
            window->stopPoll();
        },
        Qt::QueuedConnection);
    window->startPoll();
    QCOMPARE(stops, 1);
    QVERIFY(window->isPolling());
    window->stopPoll();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
