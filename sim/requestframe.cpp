#include "requestframe.h"

#include <cctype>

RequestFrame decodeRequestFrame(const QByteArray &frame)
{
    RequestFrame result;
    if (frame.size() < 2 || frame.front() != '$' || frame.back() != '\r')
        return result;
    const QByteArray digits = frame.mid(1, frame.size() - 2);
    if (digits.isEmpty() || digits.size() % 2 != 0)
        return result;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return result;
    QByteArray bytes = QByteArray::fromHex(digits);
    const quint8 check = quint8(bytes.back());
    bytes.chop(1);
    quint8 sum = 0;
    for (char byte : std::as_const(bytes))
        sum = quint8(sum + quint8(byte));
    result.status = sum == check ? RequestFrame::Good : RequestFrame::BadCheck;
    result.payload = bytes;
    return result;
}
