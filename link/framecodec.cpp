#include "framecodec.h"

#include "exchangeresult.h"
#include "frameformat.h"

namespace {

using frameByte::replyStart;
using frameByte::requestStart;
constexpr char frameEnd = frameByte::end;

// Value 0..15 of a hexadecimal digit of either case, or -1.
int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void encodeFrame(QByteArray &buffer)
{
    quint8 check = 0;
    for (char byte : std::as_const(buffer))
        check = quint8(check + quint8(byte));
    QByteArray payload = buffer;
    payload.append(char(check));
    buffer = requestStart + payload.toHex().toUpper() + frameEnd;
}

int decodeFrame(QByteArray &buffer)
{
    const qsizetype nul = buffer.indexOf('\0');
    QByteArray text = nul < 0 ? buffer : buffer.left(nul);

    if (text.isEmpty())
        return Empty;
    if (text.front() != replyStart)
        return NoStart;
    if (text.back() != frameEnd)
        return NoEnd;
    if (text.size() % 2 != 0)
        return OddLength;

    buffer.clear();
    text.chop(1);
    for (qsizetype i = 1; i + 1 < text.size(); i += 2) {
        const int high = hexDigitValue(text.at(i));
        if (high < 0)
            return BadHighDigit;
        const int low = hexDigitValue(text.at(i + 1));
        if (low < 0)
            return BadLowDigit;
        buffer.append(char(high * 16 + low));
    }
    return Ok;
}
