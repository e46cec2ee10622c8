// The live value dialog, opened from the connected main window against the simulated unit
// on a real pseudo-terminal, and on its own against a scripted line for reply shapes the
// unit never sends.

#include "ccomport.h"
#include "commandcodes.h"
#include "dialog.h"
#include "framecodec.h"
#include "scriptedpeer.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QSpinBox>
#include <QStyle>
#include <QTest>

namespace {

const QString valueDialogName = QStringLiteral("Dialog");

QDialog *openValueDialog()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    return dialog && dialog->objectName() == valueDialogName && dialog->isVisible() ? dialog
                                                                                    : nullptr;
}

QString shownValue(QDialog *dialog)
{
    return dialog->findChild<QLabel *>(QStringLiteral("value"))->text();
}

QMessageBox *openMessageBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

} // namespace

class TestCurrentValue : public QObject
{
    Q_OBJECT
private slots:
    void showsTheBoardsValue_data();
    void showsTheBoardsValue();
    void shortReplyCountsMissingBytesAsZero();
    void closingResumesThePoll_data();
    void closingResumesThePoll();
    void noStatusRequestWhileOpen();
    void slowUnitNeverGetsTwoRequestsInFlight();
    void failedExchangeShowsOneBoxAndCloses();
    void textsFitUnderDesktopFont_data();
    void textsFitUnderDesktopFont();
};

void TestCurrentValue::showsTheBoardsValue_data()
{
    QTest::addColumn<int>("inputIndex");
    QTest::addColumn<QString>("itemText"); // replaces the item's text when not empty
    QTest::addColumn<int>("address");      // put into `addr` after connecting
    QTest::addColumn<int>("value");        // the unit's value of every input board
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("shown");

    QTest::newRow("board 1, 0x1234")
        << 0 << QString() << 1 << 0x1234 << bytes({1, 0x29, 1}) << QStringLiteral("4660");
    QTest::newRow("board 3, 0xFFFF")
        << 1 << QString() << 1 << 0xFFFF << bytes({1, 0x29, 3}) << QStringLiteral("65535");
    QTest::newRow("address from the spin box")
        << 0 << QString() << 0 << 0x0102 << bytes({0, 0x29, 1}) << QStringLiteral("258");
    QTest::newRow("item text not a number sends board 0")
        << 0 << QStringLiteral("x") << 1 << 0x1234 << bytes({1, 0x29, 0}) << QStringLiteral("0");
}

void TestCurrentValue::showsTheBoardsValue()
{
    QFETCH(int, inputIndex);
    QFETCH(QString, itemText);
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(QByteArray, request);
    QFETCH(QString, shown);

    UnitBench bench;
    QVERIFY(bench.isReady());
    bench.unit.modify([value](UnitState &s) { s.value.fill(quint16(value)); });
    QVERIFY(bench.connectUnit());
    auto *input = bench.control<QComboBox>("input");
    input->setCurrentIndex(inputIndex);
    QVERIFY(bench.waitUntil([&] { return !bench.portExchanging(); }));
    if (!itemText.isEmpty())
        input->setItemText(inputIndex, itemText);
    bench.control<QSpinBox>("addr")->setValue(address);
    bench.clearRequests();

    QString firstShown;
    QString lastShown;
    bench.when([] { return openValueDialog() != nullptr; },
               [&] {
                   QDialog *dialog = openValueDialog();
                   firstShown = shownValue(dialog);
                   bench.waitUntil([&] { return !bench.requestsFor(CMD_READ_VALUE).isEmpty(); });
                   bench.waitUntil([&] { return shownValue(dialog) == shown; }, 2000);
                   QTest::qWait(600); // a second poll shows the same
                   lastShown = shownValue(dialog);
                   dialog->findChild<QAbstractButton *>(QStringLiteral("done"))->click();
               });
    bench.click("current_value");

    QCOMPARE(firstShown, QStringLiteral("0")); // until the first reply
    QCOMPARE(lastShown, shown);
    const QList<QByteArray> sent = bench.requestsFor(CMD_READ_VALUE);
    QVERIFY(sent.size() >= 2);
    for (const QByteArray &payload : sent)
        QCOMPARE(payload, request);
    QVERIFY(bench.watcher.boxes().isEmpty());
}

// A reply of two bytes holds only the low byte of the value. A screen reader is told the
// value when it changes, not at every reading.
void TestCurrentValue::shortReplyCountsMissingBytesAsZero()
{
    ScriptedPeer peer;
    peer.setScript([](int, const QByteArray &) { return ScriptedPeer::reply("!0705\r"); });
    cComPort worker(peer.slavePath());
    ScreenReaderLog announced;
    Dialog dialog(nullptr, &worker, 2, 0x107);
    dialog.show();
    auto *value = dialog.findChild<QLabel *>(QStringLiteral("value"));
    QCOMPARE(value->text(), QStringLiteral("0"));
    QVERIFY(UnitBench::waitUntil([&] { return value->text() == QStringLiteral("5"); }));
    QVERIFY(UnitBench::waitUntil([&] { return peer.requests().size() >= 3; }));
    QCOMPARE(value->accessibleName(), QStringLiteral("Текущее значение"));
    QCOMPARE(value->accessibleDescription(), QStringLiteral("5"));
    QCOMPARE(announced.count(value), 1);
    // The address and the board go out as their low bytes.
    QVERIFY(!peer.requests().isEmpty());
    QByteArray expected = bytes({0x07, 0x29, 0x02});
    encodeFrame(expected);
    QCOMPARE(peer.requests().first(), expected);
}

void TestCurrentValue::closingResumesThePoll_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Конец") << QStringLiteral("done");
    QTest::newRow("Escape") << QStringLiteral("escape");
    QTest::newRow("close button") << QStringLiteral("close");
}

void TestCurrentValue::closingResumesThePoll()
{
    QFETCH(QString, how);
    UnitBench bench;
    QVERIFY(bench.connectUnit());

    bool pollWhileOpen = true;
    bench.when([] { return openValueDialog() != nullptr; },
               [&] {
                   QDialog *dialog = openValueDialog();
                   bench.waitUntil([&] { return !bench.requestsFor(CMD_READ_VALUE).isEmpty(); });
                   pollWhileOpen = bench.window->isPolling();
                   if (how == QLatin1String("done"))
                       dialog->findChild<QAbstractButton *>(QStringLiteral("done"))->click();
                   else if (how == QLatin1String("escape"))
                       QTest::keyClick(dialog, Qt::Key_Escape);
                   else
                       dialog->close();
               });
    bench.click("current_value");

    QVERIFY(!pollWhileOpen);
    QVERIFY(openValueDialog() == nullptr);
    QVERIFY(bench.window->isPolling());
    bench.clearRequests();
    QVERIFY(bench.waitForTicks(1));
    QCOMPARE(bench.startText(), QStringLiteral("Стоп"));
}

// While the dialog is open its value requests are the only traffic on the line.
void TestCurrentValue::noStatusRequestWhileOpen()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit());

    QList<QByteArray> whileOpen;
    bench.when([] { return openValueDialog() != nullptr; },
               [&] {
                   QDialog *dialog = openValueDialog();
                   bench.waitUntil([&] { return !bench.requestsFor(CMD_READ_VALUE).isEmpty(); });
                   bench.clearRequests();
                   QTest::qWait(1600);
                   whileOpen = bench.requests();
                   dialog->close();
               });
    bench.click("current_value");

    QVERIFY2(whileOpen.size() >= 2, "the value is polled while the dialog is open");
    for (const QByteArray &payload : whileOpen)
        QCOMPARE(quint8(payload.at(1)), quint8(CMD_READ_VALUE));
}

// The unit answers later than the dialog's 500 ms period (and later than one attempt
// listens, so the worker sends its copies): a tick that comes while an exchange waits for
// its reply starts none of its own. A second exchange on the busy worker would fail and
// show a box; the line sees only whole frames.
void TestCurrentValue::slowUnitNeverGetsTwoRequestsInFlight()
{
    constexpr int lateMs = 700;
    UnitBench bench;
    QVERIFY(bench.connectUnit());

    bool stillOpen = false;
    QString shown;
    bench.when([] { return openValueDialog() != nullptr; },
               [&] {
                   QDialog *dialog = openValueDialog();
                   bench.waitUntil([&] { return !bench.requestsFor(CMD_READ_VALUE).isEmpty(); });
                   bench.unit.modify([](UnitState &s) { s.value[0] = 4321; });
                   bench.server.injectFault(Fault::delay(lateMs, true));
                   bench.clearRequests();
                   QTest::qWait(3200);
                   bench.server.clearFault();
                   stillOpen = dialog->isVisible();
                   shown = shownValue(dialog);
                   bench.waitUntil([&] { return !bench.portExchanging(); }, 3000);
                   dialog->close();
               });
    bench.click("current_value");

    QVERIFY(bench.watcher.boxes().isEmpty());
    QVERIFY(stillOpen);
    QCOMPARE(shown, QStringLiteral("4321"));
    QCOMPARE(bench.server.interleavedFrames(), 0);
    int lateReplies = 0;
    for (const ReceivedFrame &frame : bench.server.receivedFrames()) {
        QVERIFY(frame.wellFormed);
        QCOMPARE(quint8(frame.payload.at(1)), quint8(CMD_READ_VALUE));
        lateReplies += frame.fault == FaultKind::Delay;
    }
    QVERIFY(lateReplies >= 2);
}

// A failed exchange: exactly one box, nothing sent while it is shown, then the dialog
// closes; the main window stays connected and polling.
void TestCurrentValue::failedExchangeShowsOneBoxAndCloses()
{
    UnitBench bench;
    QVERIFY(bench.connectUnit());
    bench.watcher.setAnswering(false);

    QDialog *dialogSeen = nullptr;
    int requestsWhileShown = -1;
    QWidget *boxParent = nullptr;
    bench.when([] { return openValueDialog() != nullptr; },
               [&] {
                   dialogSeen = openValueDialog();
                   bench.waitUntil([&] { return !bench.requestsFor(CMD_READ_VALUE).isEmpty(); });
                   bench.server.injectFault(Fault::of(FaultKind::OddLength));
               });
    bench.when([] { return openMessageBox() != nullptr; },
               [&] {
                   QMessageBox *box = openMessageBox();
                   boxParent = box->parentWidget();
                   bench.clearRequests();
                   QTest::qWait(1200);
                   requestsWhileShown = bench.requests().size();
                   box->buttons().first()->click();
               });
    bench.click("current_value");

    QCOMPARE(requestsWhileShown, 0);
    QCOMPARE(bench.watcher.boxes().size(), 1);
    const ModalWatcher::Box &box = bench.watcher.boxes().first();
    QCOMPARE(box.title, QStringLiteral("ВЕРТАЛ-КП"));
    QCOMPARE(box.text, QStringLiteral("Ошибка обмена !"));
    QCOMPARE(box.standardButtons, int(QMessageBox::Yes));
    QVERIFY(!box.hasDefaultButton);
    QVERIFY(boxParent != nullptr);
    QCOMPARE(boxParent, dialogSeen);
    QVERIFY(openValueDialog() == nullptr);
    // The main window was not reset: still connected, the poll runs again.
    QCOMPARE(bench.startText(), QStringLiteral("Стоп"));
    QVERIFY(bench.window->isPolling());
    QVERIFY(bench.waitForTicks(1));
    QCOMPARE(bench.watcher.boxes().size(), 1);
}

void TestCurrentValue::textsFitUnderDesktopFont_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pointSize");
    QTest::newRow("the platform's own") << QString() << 0;
    for (const int size : {9, 10, 12, 14, 16, 20})
        QTest::addRow("DejaVu Sans %d pt", size) << QStringLiteral("DejaVu Sans") << size;
}

// A desktop theme sets the application font (qt6ct, for one): the dialog opened from the
// window still shows "Текущее значение:" and its button whole.
void TestCurrentValue::textsFitUnderDesktopFont()
{
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    const QFont before = QApplication::font();
    if (!family.isEmpty())
        QApplication::setFont(QFont(family, pointSize));
    UnitBench bench;
    QVERIFY(bench.connectUnit());

    QStringList cut;
    QString labelText;
    bench.when([] { return openValueDialog() != nullptr; },
               [&] {
                   QDialog *dialog = openValueDialog();
                   const auto *label = dialog->findChild<QLabel *>(QStringLiteral("label"));
                   labelText = label->text();
                   for (const QLabel *shown : dialog->findChildren<QLabel *>()) {
                       if (QFontMetrics(shown->font()).horizontalAdvance(shown->text()) >
                           shown->contentsRect().width())
                           cut << shown->objectName();
                   }
                   const auto *done = dialog->findChild<QAbstractButton *>(QStringLiteral("done"));
                   const int margin = done->style()->pixelMetric(QStyle::PM_ButtonMargin);
                   if (QFontMetrics(done->font()).horizontalAdvance(done->text()) >
                       done->width() - 2 * margin)
                       cut << done->objectName();
                   dialog->close();
               });
    bench.click("current_value");
    QApplication::setFont(before);

    QCOMPARE(labelText, QStringLiteral("Текущее значение:"));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
}

QTEST_MAIN(TestCurrentValue)
#include "tst_currentvalue.moc"
