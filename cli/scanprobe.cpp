// The probe both ways of scanning share: one address's board request and its result line.
#include "scanprobe.h"

#include "describe.h"
#include "exchangeresult.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"
#include "unitsearch.h"

Probe probe(Session &session, int address, int &boardMap, int *replyAddress)
{
    session.traceConnection(session.options().speed, address);
    const unit::Heard heard =
        unit::probeBoards(session.askingAgain(), address, boardMap, replyAddress);
    if (heard.result == Ok)
        return Probe::Answered;
    if (heard.garbled == 0)
        return Probe::Silent;
    return heard.everyReplyGarbled() ? Probe::Collided : Probe::Garbled;
}

int reportProbe(const Output &out, int address, Probe heard, int boardMap)
{
    const bool garbled = heard == Probe::Collided || heard == Probe::Garbled;
    QJsonObject object{
        {"address", address}, {"answered", heard == Probe::Answered}, {"garbled", garbled}};
    if (heard == Probe::Answered)
        object.insert("boards", boardsJson(boardMap));
    QString text;
    if (heard == Probe::Answered)
        text = QStringLiteral("address %1: boards %2").arg(address).arg(boardsText(boardMap));
    else if (heard == Probe::Collided)
        text = QStringLiteral("address %1: only garbled replies (noise on the line, or two units "
                              "answering to one address)")
                   .arg(address);
    else if (heard == Probe::Garbled)
        text = QStringLiteral("address %1: garbled replies, then silence (a noisy line?)")
                   .arg(address);
    if (!out.json() && text.isEmpty())
        return ExitDone; // a silent address is told only by the summary
    return out.result(object, text);
}
