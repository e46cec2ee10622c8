// libFuzzer target: decodeFrame takes whatever the line delivers. Besides crashes and
// undefined behaviour it checks what the decoder promises about the caller's buffer.
#include "exchangeresult.h"
#include "framecodec.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Ok: the payload, framed again as a reply, is the judged text up to its case.
void checkOk(const QByteArray &judged, const QByteArray &payload)
{
    check(judged.size() == 2 * payload.size() + 2);
    const QByteArray again = '!' + payload.toHex().toUpper() + '\r';
    check(again == judged.toUpper());
}

// Bad digit: the buffer holds the bytes of the pairs before the bad one, and they match.
void checkBadDigit(const QByteArray &judged, const QByteArray &decoded)
{
    check(2 * decoded.size() + 2 < judged.size());
    check(decoded.toHex().toUpper() == judged.mid(1, 2 * decoded.size()).toUpper());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray frame(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = frame.indexOf('\0');
    const QByteArray judged = nul < 0 ? frame : frame.left(nul);

    QByteArray buffer = frame;
    const int result = decodeFrame(buffer);
    switch (result) {
    case Ok:
        checkOk(judged, buffer);
        break;
    case Empty:
        check(judged.isEmpty() && buffer == frame);
        break;
    case NoStart:
        check(judged.front() != '!' && buffer == frame);
        break;
    case NoEnd:
        check(judged.back() != '\r' && buffer == frame);
        break;
    case OddLength:
        check(judged.size() % 2 != 0 && buffer == frame);
        break;
    case BadHighDigit:
    case BadLowDigit:
        checkBadDigit(judged, buffer);
        break;
    default:
        check(false); // decodeFrame has no other codes
    }
    return 0;
}
