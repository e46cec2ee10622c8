#include "hostilereply.h"

namespace {

const QByteArray frameBytes = "!\r0123456789ABCDEFabcdef";

} // namespace

QByteArray HostileLine::noise(int length)
{
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> frameByte(0, int(frameBytes.size()) - 1);
    QByteArray bytes;
    for (int i = 0; i < length; ++i)
        bytes += rng() % 4 == 0 ? char(anyByte(rng)) : frameBytes.at(frameByte(rng));
    return bytes;
}

QByteArray HostileLine::spoilt(const QByteArray &frame)
{
    QByteArray bytes;
    switch (pick(0, 3)) {
    case 0: // noise alone
        bytes = noise(pick(1, 300));
        break;
    case 1: // the frame with bytes replaced
        bytes = frame;
        for (int i = pick(1, 3); i > 0; --i)
            bytes[pick(0, int(bytes.size()) - 1)] = noise(1).at(0);
        break;
    case 2: // noise around the frame
        bytes = noise(pick(0, 20)) + frame + noise(pick(0, 20));
        break;
    default: // the frame's shape with random content
        bytes = '!' + noise(pick(0, 40)).replace('\r', '0') + '\r';
        break;
    }
    return bytes;
}

QList<HostilePiece> HostileLine::chunks(const QByteArray &bytes, int maxPieces)
{
    QList<HostilePiece> pieces;
    int at = 0;
    int when = 0;
    const int count = pick(1, maxPieces);
    for (int i = 0; i < count && at < bytes.size(); ++i) {
        const int left = int(bytes.size()) - at;
        const int size = i == count - 1 ? left : pick(1, left);
        when += pick(0, 9) == 0 ? pick(20, 400) : pick(0, 12);
        pieces << HostilePiece{when, bytes.mid(at, size)};
        at += size;
    }
    return pieces;
}

QList<HostilePiece> hostileReply(const QByteArray &frame, quint32 seed)
{
    HostileLine line(seed);
    const QByteArray bytes = line.spoilt(frame);
    return line.chunks(bytes);
}
