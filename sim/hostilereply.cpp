#include "hostilereply.h"

#include <random>

namespace {

const QByteArray frameBytes = "!\r0123456789ABCDEFabcdef";

QByteArray randomBytes(std::mt19937 &rng, int length)
{
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> frameByte(0, int(frameBytes.size()) - 1);
    QByteArray bytes;
    for (int i = 0; i < length; ++i)
        bytes += rng() % 4 == 0 ? char(anyByte(rng)) : frameBytes.at(frameByte(rng));
    return bytes;
}

} // namespace

QList<HostilePiece> hostileReply(const QByteArray &frame, quint32 seed)
{
    std::mt19937 rng(seed);
    auto pick = [&rng](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    QByteArray bytes;
    switch (pick(0, 3)) {
    case 0: // noise alone
        bytes = randomBytes(rng, pick(1, 300));
        break;
    case 1: // the frame with bytes replaced
        bytes = frame;
        for (int i = pick(1, 3); i > 0; --i)
            bytes[pick(0, int(bytes.size()) - 1)] = randomBytes(rng, 1).at(0);
        break;
    case 2: // noise around the frame
        bytes = randomBytes(rng, pick(0, 20)) + frame + randomBytes(rng, pick(0, 20));
        break;
    default: // the frame's shape with random content
        bytes = '!' + randomBytes(rng, pick(0, 40)).replace('\r', '0') + '\r';
        break;
    }
    QList<HostilePiece> pieces;
    int at = 0;
    int when = 0;
    const int count = pick(1, 5);
    for (int i = 0; i < count && at < bytes.size(); ++i) {
        const int left = int(bytes.size()) - at;
        const int size = i == count - 1 ? left : pick(1, left);
        when += pick(0, 9) == 0 ? pick(20, 400) : pick(0, 12);
        pieces << HostilePiece{when, bytes.mid(at, size)};
        at += size;
    }
    return pieces;
}
