// The simulator's hostile reply: the same seed plays the same bytes and chunks, pieces go
// out in order, and across seeds every way of going wrong comes up.
#include "hostilereply.h"

#include <QTest>

class TestHostileReply : public QObject
{
    Q_OBJECT
private slots:
    void sameSeedSameLine();
    void piecesInOrder();
    void varietyAcrossSeeds();
};

namespace {

const QByteArray frame = "!0126050E\r";

QByteArray joined(const QList<HostilePiece> &pieces)
{
    QByteArray bytes;
    for (const HostilePiece &piece : pieces)
        bytes += piece.bytes;
    return bytes;
}

} // namespace

void TestHostileReply::sameSeedSameLine()
{
    for (quint32 seed : {0u, 1u, 77u, 4294967295u}) {
        const QList<HostilePiece> first = hostileReply(frame, seed);
        const QList<HostilePiece> again = hostileReply(frame, seed);
        QCOMPARE(again.size(), first.size());
        for (qsizetype i = 0; i < first.size(); ++i) {
            QCOMPARE(again[i].bytes, first[i].bytes);
            QCOMPARE(again[i].afterMs, first[i].afterMs);
        }
    }
}

void TestHostileReply::piecesInOrder()
{
    for (quint32 seed = 0; seed < 500; ++seed) {
        const QList<HostilePiece> pieces = hostileReply(frame, seed);
        QVERIFY(!pieces.isEmpty());
        int last = 0;
        for (const HostilePiece &piece : pieces) {
            QVERIFY(!piece.bytes.isEmpty());
            QVERIFY(piece.afterMs >= last);
            QVERIFY(piece.afterMs < 5 * 400 + 1);
            last = piece.afterMs;
        }
    }
}

void TestHostileReply::varietyAcrossSeeds()
{
    int whole = 0, chunked = 0, noFrameEnd = 0, overlong = 0, framed = 0;
    for (quint32 seed = 0; seed < 500; ++seed) {
        const QList<HostilePiece> pieces = hostileReply(frame, seed);
        const QByteArray bytes = joined(pieces);
        whole += bytes.contains(frame);
        chunked += pieces.size() > 1;
        noFrameEnd += !bytes.contains('\r');
        overlong += bytes.size() > 256;
        framed += bytes.startsWith('!') && bytes.endsWith('\r') && !bytes.contains(frame);
    }
    QVERIFY(whole > 0);
    QVERIFY(chunked > 0);
    QVERIFY(noFrameEnd > 0);
    QVERIFY(overlong > 0);
    QVERIFY(framed > 0);
}

QTEST_APPLESS_MAIN(TestHostileReply)
#include "tst_hostilereply.moc"
