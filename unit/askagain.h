#pragma once

#include <QByteArray>
#include <functional>

class cComPort;

namespace unit {

// Exchanges for one request, garbled replies asked again.
constexpr int garbledTries = 3;

// What the exchanges for one request heard.
struct Heard
{
    int result = 0;    // ExchangeResult of the last exchange
    int exchanges = 0; // exchanges made (each of up to --tries sends)
    int garbled = 0;   // of them, those whose reply came but could not be read

    // Every reply came garbled: on a line with several units, all of them answering the
    // same address at once (replies collide the same way every time, noise does not).
    bool everyReplyGarbled() const { return garbled > 0 && garbled == exchanges; }
};

// How a front end has one request exchanged with the unit: `payload` holds the request,
// and the reply once the result is Ok. The window sends each request once (an operator is
// there to press again); the console program asks again after a garbled reply.
using Exchange = std::function<Heard(QByteArray &payload)>;

// True for an ExchangeResult that means bytes came but made no reply frame.
bool isGarbled(int exchangeResult);

// One exchange of `request` on `port`, as a Heard.
Heard exchangeOnce(cComPort &port, QByteArray &request);

// One exchange of `request`, sent again while its reply comes garbled: a glitch on the line
// spoils one frame, and a unit that has just answered is worth asking again even if it then
// falls silent. Up to garbledTries exchanges; silence with nothing heard, a readable reply or
// no port ends it at once. On Ok `request` holds the reply. Processes events while it waits.
Heard exchangeAskingAgain(cComPort &port, QByteArray &request);

} // namespace unit
