// The frame trace: how bytes are written, and that every frame the link logs reaches the
// installed trace, with a header per connection.
#include "frametrace.h"
#include "linklog.h"
#include "tracefile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestFrameTrace : public QObject
{
    Q_OBJECT
private slots:
    void escaped_data();
    void escaped();
    void linkFramesReachTheInstalledTrace();
};

void TestFrameTrace::escaped_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("request") << QByteArray("$0105069\r") << QStringLiteral("$0105069\\r");
    QTest::newRow("line feed, backslash") << QByteArray("a\n\\") << QStringLiteral("a\\n\\\\");
    QTest::newRow("collided and NUL")
        << QByteArray("!0\xFF\0", 4) << QStringLiteral("!0\\xff\\x00");
}

void TestFrameTrace::escaped()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(FrameTrace::escaped(bytes), text);
}

void TestFrameTrace::linkFramesReachTheInstalledTrace()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trace");
    {
        FrameTrace trace;
        QVERIFY(installTrace(trace, path));
        trace.connection(QStringLiteral("vertal-cli 1.05"), QStringLiteral("/dev/ttyS0"), 9600, 3);
        logFrame("out", "$032629\r");
        logFrame("in", QByteArray()); // an empty read is no line
        logFrame("in", "!03010509\r");
    } // destroying the trace uninstalls it
    QVERIFY(!FrameTrace::installed());
    logFrame("out", "$000505\r");

    QStringList lines;
    QVERIFY(readTraceLines(path, lines));
    QCOMPARE(lines.size(), 3);
    const QString stamp = QStringLiteral(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})");
    QVERIFY(QRegularExpression("^# vertal-cli 1.05 port /dev/ttyS0 speed 9600 address 3 at " +
                               stamp + "$")
                .match(lines[0])
                .hasMatch());
    QVERIFY(QRegularExpression("^" + stamp + R"( out \$032629\\r$)").match(lines[1]).hasMatch());
    QVERIFY(QRegularExpression("^" + stamp + R"( in !03010509\\r$)").match(lines[2]).hasMatch());
}

QTEST_GUILESS_MAIN(TestFrameTrace)
#include "tst_frametrace.moc"
