#include "replyframe.h"

QByteArray encodeReplyFrame(const QByteArray &payload)
{
    return '!' + payload.toHex().toUpper() + '\r';
}
