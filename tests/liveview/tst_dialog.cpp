// The live value dialog: on its own against a scripted line for reply shapes the unit never
// sends, and opened from the connected main window against the simulated unit on a real
// pseudo-terminal: its pace on a slow unit, a failed exchange, its texts under a desktop
// font. (What the window does around it: workflow/tst_currentvalue.)

#include "ccomport.h"
#include "commandcodes.h"
#include "dialog.h"
#include "framecodec.h"
#include "scriptedpeer.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStyle>
#include <QTest>

namespace {

QMessageBox *openMessageBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

} // namespace

class TestDialog : public QObject
{
    Q_OBJECT
private slots:
    void shortReplyCountsMissingBytesAsZero();
    void slowUnitNeverGetsTwoRequestsInFlight();
    void failedExchangeShowsOneBoxAndCloses();
    void textsFitUnderDesktopFont_data();
    void textsFitUnderDesktopFont();
};

// A reply of two bytes holds only the low byte of the value. A screen reader is told the
// value when it changes, not at every reading.
void TestDialog::shortReplyCountsMissingBytesAsZero()
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
    QByteArray expected = QByteArray::fromHex("072902");
    encodeFrame(expected);
    QCOMPARE(peer.requests().first(), expected);
}

// The unit answers later than the dialog's 500 ms period (and later than one attempt
// listens, so the worker sends its copies): a tick that comes while an exchange waits for
// its reply starts none of its own. A second exchange on the busy worker would fail and
// show a box; the line sees only whole frames.
void TestDialog::slowUnitNeverGetsTwoRequestsInFlight()
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
                   // Two late exchanges, ticks coming during each: the first brings the new
                   // value, the second starts after it and ends.
                   bench.waitUntil([&] { return shownValue(dialog) == "4321"; }, 15000);
                   const qsizetype firstLate = bench.server.receivedFrames().size();
                   bench.waitUntil(
                       [&] {
                           return bench.server.receivedFrames().size() > firstLate &&
                                  !bench.portExchanging();
                       },
                       15000);
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
void TestDialog::failedExchangeShowsOneBoxAndCloses()
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
                   // The time is the case: two of the dialog's periods pass with the box up.
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

void TestDialog::textsFitUnderDesktopFont_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pointSize");
    QTest::newRow("the platform's own") << QString() << 0;
    for (const int size : {9, 10, 12, 14, 16, 20})
        QTest::addRow("DejaVu Sans %d pt", size) << QStringLiteral("DejaVu Sans") << size;
}

// A desktop theme sets the application font (qt6ct, for one): the dialog opened from the
// window still shows "Текущее значение:" and its button whole.
void TestDialog::textsFitUnderDesktopFont()
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

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
