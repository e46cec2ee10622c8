// The font fitting every window uses, on the main window's form: the family it returns is
// the window's, a second look changes nothing, the form's point sizes stay, and in a
// family it chose every label fits its control.
#include "fontfit.h"
#include "mainwindow.h"

#include <QFontMetrics>
#include <QLabel>
#include <QTest>

class TestFontFit : public QObject
{
    Q_OBJECT
private slots:
    void labelsFitAfterFontChoice();
};

void TestFontFit::labelsFitAfterFontChoice()
{
    MainWindow window(nullptr, [] { return QStringList{"COM1"}; });
    const QString before = window.font().family();
    const QString family = fitFontFamily(&window);
    QCOMPARE(window.font().family(), family);
    QCOMPARE(fitFontFamily(&window), family); // a second look changes nothing
    QCOMPARE(window.findChild<QLabel *>("label_3")->font().pointSize(), 9);
    QCOMPARE(window.findChild<QWidget *>("groupBox_2")->font().pointSize(), 10);
    QCOMPARE(window.findChild<QWidget *>("a_time")->font().pointSize(), 10);
    if (family == before && window.testAttribute(Qt::WA_SetFont))
        QFAIL("the window's font was set without changing its family");
    if (family == before)
        return; // the platform face fits, or no listed face does
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        const int width = QFontMetrics(label->font()).horizontalAdvance(label->text());
        QVERIFY2(width <= label->contentsRect().width(), qPrintable(label->objectName()));
        QCOMPARE(label->font().family(), family);
    }
}

QTEST_MAIN(TestFontFit)
#include "tst_fontfit.moc"
