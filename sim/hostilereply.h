#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <random>

// One piece of what a hostile line sends, and when.
struct HostilePiece
{
    int afterMs = 0; // from the request's arrival
    QByteArray bytes;
};

// The rule of a hostile line: random bytes of random length (the reply's own characters far
// more often than others, now and then the real frame mangled), cut into random chunks with
// random pauses. The same seed gives the same bytes and chunks. The tests' hostile unit adds
// its own mangling on top of the same rule. Not thread-safe: one per thread.
class HostileLine
{
public:
    explicit HostileLine(quint32 seed) : rng(seed) {}

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    // `length` random bytes, mostly the characters of a reply frame.
    QByteArray noise(int length);
    // `frame` spoilt one of four ways: noise alone, bytes replaced, noise around it, or the
    // frame's shape with random content.
    QByteArray spoilt(const QByteArray &frame);
    // `bytes` cut into 1 to `maxPieces` chunks, mostly a few milliseconds apart and now and
    // then longer than a poll.
    QList<HostilePiece> chunks(const QByteArray &bytes, int maxPieces = 5);

private:
    std::mt19937 rng;
};

// The simulator's hostile reply in place of `frame`.
QList<HostilePiece> hostileReply(const QByteArray &frame, quint32 seed);
