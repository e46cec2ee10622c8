// scan: which addresses answer the board request on a multi-drop line, at one speed.
// Every address gets the same exchange as the search's probe (--tries sends at most, a
// garbled reply asked again). With --listen shorter than the window's attempt, a slow
// unit's reply can land in the next address's attempt: the reply names its unit, so it is
// not counted there, and every address heard is confirmed with the window's timing (see
// shortscan.cpp); the results then come at the end, in address order.
#include "ccomport.h"
#include "clioptions.h"
#include "commands.h"
#include "exchangetiming.h"
#include "exitcodes.h"
#include "interrupt.h"
#include "output.h"
#include "scanprobe.h"
#include "session.h"
#include "shortscan.h"

#include <QStringList>

namespace {

// Each address reported as soon as it is probed.
int scanStreaming(Session &session, const Output &out, QStringList &answered, int &probed)
{
    for (const int address : session.options().addresses) {
        int boardMap = 0;
        const Probe heard = probe(session, address, boardMap, nullptr);
        if (interrupt::requested())
            break; // the probe cut short tells nothing
        if (const int code = session.traceState())
            return code;
        if (const int code = session.reportPortGone(QStringLiteral("scanning")))
            return code;
        if (const int code = reportProbe(out, address, heard, boardMap))
            return code;
        ++probed;
        if (heard == Probe::Answered)
            answered << QString::number(address);
    }
    return ExitDone;
}

int summary(const Output &out, const QStringList &answered, int probed, int speed)
{
    if (out.json())
        return ExitDone;
    return out.result({}, QStringLiteral("%1 of %2 addresses answered at %3 baud%4%5")
                              .arg(answered.size())
                              .arg(probed)
                              .arg(speed)
                              .arg(answered.isEmpty() ? QString() : QStringLiteral(": "))
                              .arg(answered.join(QLatin1String(", "))));
}

} // namespace

int runScan(Session &session, const Output &out)
{
    const int speed = session.options().speed;
    QStringList answered;
    int probed = 0;
    // Ctrl-C ends the scan with what it has found so far; the probe in flight stops at once.
    interrupt::takeOver();
    interrupt::whenRequested([&session] { session.port().stopExchanges(); });
    session.port().setBaudRate(speed);
    const bool listeningShort = session.listening().polls < exchangeTiming::countedPollsPerAttempt;
    if (const int code = listeningShort ? scanListeningShort(session, out, answered, probed)
                                        : scanStreaming(session, out, answered, probed))
        return code;
    if (const int code = summary(out, answered, probed, speed))
        return code;
    if (answered.isEmpty() && !interrupt::requested()) {
        Output::error(QStringLiteral("no unit answered at %1 baud").arg(speed));
        return ExitNoUnit;
    }
    return ExitDone;
}
