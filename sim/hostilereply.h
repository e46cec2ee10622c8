#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// A hostile line in place of one reply: random bytes of random length (the reply's own
// characters far more often than others, now and then the real frame mangled), cut into
// random chunks with random pauses. The same seed gives the same bytes and chunks.
struct HostilePiece
{
    int afterMs = 0; // from the request's arrival
    QByteArray bytes;
};
QList<HostilePiece> hostileReply(const QByteArray &frame, quint32 seed);
