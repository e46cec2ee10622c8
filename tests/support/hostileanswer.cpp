#include "hostileanswer.h"

namespace {

// Bytes a line really carries when it goes wrong: the frame's own characters far more
// often than any other byte.
const QByteArray protocolBytes = "!\r0123456789ABCDEFabcdef$";

} // namespace

ScriptedPeer::Answer HostileAnswer::next()
{
    ScriptedPeer::Answer answer;
    const QByteArray bytes = body();
    // Random chunking: 1 to 6 pieces, mostly short pauses, now and then one past a poll.
    qsizetype at = 0;
    const int pieces = pick(1, 6);
    for (int i = 0; i < pieces && at < bytes.size(); ++i) {
        const qsizetype left = bytes.size() - at;
        const qsizetype size = i == pieces - 1 ? left : pick(1, int(left));
        const int pause = pick(0, 9) == 0 ? pick(20, 400) : pick(0, 12);
        answer.steps << ScriptedPeer::Step{pause, bytes.mid(at, size)};
        at += size;
    }
    if (hangUpPermille > 0 && pick(0, 999) < hangUpPermille) {
        answer.hangUp = true;
        answer.hangUpPauseMs = pick(0, 50);
    }
    return answer;
}

QByteArray HostileAnswer::body()
{
    QByteArray reply = goodReply();
    switch (pick(0, 9)) {
    case 0: // silence
        return {};
    case 1: // a good reply, for the exchanges that should then succeed
        return reply;
    case 2: // random bytes of random length
        return randomBytes(pick(1, 300));
    case 3: // one digit replaced by a byte that is no digit
        reply[pick(1, int(reply.size()) - 2)] = char(pick(0, 1) ? 'G' + pick(0, 19) : pick(0, 255));
        return reply;
    case 4: // one digit too many or too few
        return pick(0, 1) ? reply.insert(1, 'A') : reply.remove(1, 1);
    case 5: // a NUL inside the frame
        return reply.insert(pick(1, int(reply.size()) - 1), '\0');
    case 6: // garbage in front, in the same chunk or before it
        return randomBytes(pick(1, 20)) + reply;
    case 7: // a start that never ends
        return '!' + randomBytes(pick(0, 400)).replace('\r', 'F');
    case 8: // two replies where one was asked for
        return reply + goodReply();
    default: // the right shape with random content
        return '!' + randomBytes(pick(0, 40)).replace('\r', '0') + '\r';
    }
}

QByteArray HostileAnswer::randomBytes(int length)
{
    QByteArray bytes;
    bytes.reserve(length);
    for (int i = 0; i < length; ++i)
        bytes += pick(0, 3) == 0 ? char(pick(0, 255))
                                 : protocolBytes.at(pick(0, int(protocolBytes.size()) - 1));
    return bytes;
}

QByteArray HostileAnswer::goodReply()
{
    QByteArray payload;
    const int length = pick(1, 12);
    for (int i = 0; i < length; ++i)
        payload += char(pick(0, 255));
    const QByteArray hex = pick(0, 1) ? payload.toHex().toUpper() : payload.toHex();
    return '!' + hex + '\r';
}
