#include "hostileanswer.h"

// The scripted peer's answer from the line's chunks: its pauses counted from the chunk before.
ScriptedPeer::Answer HostileAnswer::next()
{
    ScriptedPeer::Answer answer;
    int before = 0;
    for (const HostilePiece &piece : line.chunks(body(), 6)) {
        answer.steps << ScriptedPeer::Step{piece.afterMs - before, piece.bytes};
        before = piece.afterMs;
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
        return line.noise(pick(1, 300));
    case 3: // one digit replaced by a byte that is no digit
        reply[pick(1, int(reply.size()) - 2)] = char(pick(0, 1) ? 'G' + pick(0, 19) : pick(0, 255));
        return reply;
    case 4: // one digit too many or too few
        return pick(0, 1) ? reply.insert(1, 'A') : reply.remove(1, 1);
    case 5: // a NUL inside the frame
        return reply.insert(pick(1, int(reply.size()) - 1), '\0');
    case 6: // garbage in front, in the same chunk or before it
        return line.noise(pick(1, 20)) + reply;
    case 7: // a start that never ends
        return '!' + line.noise(pick(0, 400)).replace('\r', 'F');
    case 8: // two replies where one was asked for
        return reply + goodReply();
    default: // one of the simulator's spoilt replies
        return line.spoilt(reply);
    }
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
