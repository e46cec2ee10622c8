// relay get | set | switch, with the window's own checks: relay 0..4 (1..4 to switch), and
// a relay board of the unit found; on-time 0..300 s and period 0..120 s (its spin boxes),
// and an on-time above 0 that is not greater than the period refused ("Время меньше или
// равно периоду !"). A write is judged by reading back what the unit holds.
#include "boardlist.h"
#include "clioptions.h"
#include "commands.h"
#include "commandset.h"
#include "describe.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"
#include "valuerules.h"

namespace {

// What the window would not let the operator send; empty when the values may go.
QString setValuesFault(const CliOptions &o)
{
    if (o.relay != 0 && !unit::isBoardPosition(o.relay))
        return QStringLiteral("--relay %1: 0 (none) or a relay board position 1..4").arg(o.relay);
    if (!unit::onTimeInRange(o.onTime))
        return QStringLiteral("--time %1: 0..%2 s").arg(o.onTime).arg(unit::maxOnTime);
    if (!unit::periodInRange(o.period))
        return QStringLiteral("--period %1: 0..%2 s").arg(o.period).arg(unit::maxPeriod);
    if (!unit::onTimeAbovePeriod(o.onTime, o.period))
        return QStringLiteral("the on-time (%1 s) must be greater than the period (%2 s)")
            .arg(o.onTime)
            .arg(o.period);
    return QString();
}

// The relay a command names must be a relay board of the unit found (the window offers
// only those): the unit's reply to a write carries no result to tell a refusal by.
int checkRelayBoard(const Session &session, int relay)
{
    if (unit::isRelayBoard(session.unit().boardMap, relay))
        return ExitDone;
    Output::error(QStringLiteral("--relay %1: no relay board at position %1 (boards: %2)")
                      .arg(relay)
                      .arg(boardsText(session.unit().boardMap)));
    return ExitRefused;
}

int getRelay(Session &session, const Output &out)
{
    const int board = session.options().board;
    if (const int code = checkInputBoard(session, board))
        return code;
    QByteArray reply = command::readAlarmRele(session.unit().address, board);
    if (const int code = session.call(reply, QStringLiteral("reading the alarm relay")))
        return code;
    const command::AlarmRele r = command::alarmRele(reply);
    return out.result(alarmReleJson(board, r.relay, r.onTime, r.period),
                      alarmReleText(board, r.relay, r.onTime, r.period));
}

// Nothing in the reply to a write says whether the unit took it: the assignment is read
// back and compared with what was sent.
int setRelay(Session &session, const Output &out)
{
    const CliOptions &o = session.options();
    if (const int code = checkInputBoard(session, o.board))
        return code;
    if (o.relay != 0)
        if (const int code = checkRelayBoard(session, o.relay))
            return code;
    const int address = session.unit().address;
    QByteArray write = command::setAlarmRele(address, o.board, o.relay, o.onTime, o.period);
    if (const int code = session.call(write, QStringLiteral("setting the alarm relay")))
        return code;
    QByteArray reply = command::readAlarmRele(address, o.board);
    if (const int code = session.call(reply, QStringLiteral("reading the alarm relay back")))
        return code;
    const command::AlarmRele held = command::alarmRele(reply);
    if (held.relay != o.relay || held.onTime != o.onTime || held.period != o.period) {
        Output::error(QStringLiteral("the unit did not store the alarm relay; it reads back: %1")
                          .arg(alarmReleText(o.board, held.relay, held.onTime, held.period)));
        return ExitRefused;
    }
    return out.result(alarmReleJson(o.board, o.relay, o.onTime, o.period),
                      alarmReleText(o.board, o.relay, o.onTime, o.period) +
                          QStringLiteral(" (set)"));
}

// The unit has no reading of a relay's state: what is known is that the request went out
// and the unit answered it. A garbled answer is not asked again: the unit heard the request,
// and a second one would switch the relay back.
int switchRelay(Session &session, const Output &out)
{
    const int relay = session.options().relay;
    if (const int code = checkRelayBoard(session, relay))
        return code;
    QByteArray reply = command::switchRele(session.unit().address, relay);
    if (const int code = session.call(reply, QStringLiteral("switching relay %1").arg(relay),
                                      Session::Garbled::Fail))
        return code;
    return out.result(QJsonObject{{"relay", relay}, {"sent", true}, {"answered", true}},
                      QStringLiteral("relay %1: switch sent, the unit answered").arg(relay));
}

} // namespace

int runRelay(Session &session, const Output &out)
{
    const CliOptions &o = session.options();
    // The values are checked before anything goes out on the line.
    QString fault;
    if (o.action == QLatin1String("set"))
        fault = setValuesFault(o);
    else if (o.action == QLatin1String("switch") && !unit::isBoardPosition(o.relay))
        fault = QStringLiteral("--relay %1: a relay board position 1..4").arg(o.relay);
    if (!fault.isEmpty()) {
        Output::error(fault);
        return ExitRefused;
    }
    if (const int code = session.connect())
        return code;
    if (o.action == QLatin1String("get"))
        return getRelay(session, out);
    if (o.action == QLatin1String("set"))
        return setRelay(session, out);
    return switchRelay(session, out);
}
