// "Текущее значение" from the connected main window against the simulated unit on a real
// pseudo-terminal: the dialog asks for the chosen board at the address in the form, and
// the status poll pauses while it is open and resumes however it is closed. (The dialog
// itself: liveview/tst_dialog.)

#include "commandcodes.h"
#include "unitbench.h"
#include "windowchecks.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QSpinBox>
#include <QTest>

namespace {

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
    void closingResumesThePoll_data();
    void closingResumesThePoll();
    void noStatusRequestWhileOpen();
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
                   // A later poll shows the same: the request after it has gone out only
                   // once that poll's reply was shown.
                   const qsizetype polled = bench.requestsFor(CMD_READ_VALUE).size();
                   bench.waitUntil(
                       [&] { return bench.requestsFor(CMD_READ_VALUE).size() >= polled + 2; },
                       10000);
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
                   // Three value polls: more than two of the status poll's periods.
                   bench.waitUntil([&] { return bench.requestsFor(CMD_READ_VALUE).size() >= 3; },
                                   10000);
                   whileOpen = bench.requests();
                   dialog->close();
               });
    bench.click("current_value");

    QVERIFY2(whileOpen.size() >= 2, "the value is polled while the dialog is open");
    for (const QByteArray &payload : whileOpen)
        QCOMPARE(quint8(payload.at(1)), quint8(CMD_READ_VALUE));
}

QTEST_MAIN(TestCurrentValue)
#include "tst_currentvalue.moc"
