#include "askagain.h"

#include "ccomport.h"
#include "exchangeresult.h"

namespace unit {

bool isGarbled(int exchangeResult)
{
    return exchangeResult != Ok && exchangeResult != NoReply && exchangeResult != NoPort;
}

Heard exchangeOnce(cComPort &port, QByteArray &request)
{
    Heard heard;
    heard.result = port.exchange(request, false);
    heard.exchanges = 1;
    heard.garbled = isGarbled(heard.result) ? 1 : 0;
    return heard;
}

Heard exchangeAskingAgain(cComPort &port, QByteArray &request)
{
    const QByteArray sent = request;
    Heard heard;
    while (heard.exchanges < garbledTries) {
        request = sent;
        heard.result = port.exchange(request, false);
        ++heard.exchanges;
        if (isGarbled(heard.result))
            ++heard.garbled;
        else if (heard.result != NoReply || heard.garbled == 0 || port.exchangesStopped())
            break;
    }
    return heard;
}

} // namespace unit
