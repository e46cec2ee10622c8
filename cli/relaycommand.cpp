// relay get | set | switch, with the window's own checks: relay 0..4 (1..4 to switch),
// on-time 0..300 s and period 0..120 s (its spin boxes), and an on-time above 0 that is
// not greater than the period refused ("Время меньше или равно периоду !").
#include "clioptions.h"
#include "commandcodes.h"
#include "commands.h"
#include "commandset.h"
#include "describe.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"

namespace {

constexpr int maxOnTime = 300;
constexpr int maxPeriod = 120;

// What the window would not let the operator send; empty when the values may go.
QString setValuesFault(const CliOptions &o)
{
    if (o.relay < 0 || o.relay > boardPositions)
        return QStringLiteral("--relay %1: 0 (none) or a relay board position 1..4").arg(o.relay);
    if (o.onTime < 0 || o.onTime > maxOnTime)
        return QStringLiteral("--time %1: 0..300 s").arg(o.onTime);
    if (o.period < 0 || o.period > maxPeriod)
        return QStringLiteral("--period %1: 0..120 s").arg(o.period);
    if (o.onTime > 0 && o.period >= o.onTime)
        return QStringLiteral("the on-time (%1 s) must be greater than the period (%2 s)")
            .arg(o.onTime)
            .arg(o.period);
    return QString();
}

// A write is answered [address, command, result, ...]: result 0 done, else refused.
int writeResult(const QByteArray &reply, const QString &what)
{
    const int result = command::replyByte(reply, 2);
    if (result == 0)
        return ExitDone;
    Output::error(QStringLiteral("the unit refused %1 (result %2)").arg(what).arg(result));
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

int setRelay(Session &session, const Output &out)
{
    const CliOptions &o = session.options();
    if (const int code = checkInputBoard(session, o.board))
        return code;
    QByteArray reply =
        command::setAlarmRele(session.unit().address, o.board, o.relay, o.onTime, o.period);
    if (const int code = session.call(reply, QStringLiteral("setting the alarm relay")))
        return code;
    if (const int code = writeResult(reply, QStringLiteral("the alarm relay")))
        return code;
    return out.result(alarmReleJson(o.board, o.relay, o.onTime, o.period),
                      alarmReleText(o.board, o.relay, o.onTime, o.period) +
                          QStringLiteral(" (set)"));
}

int switchRelay(Session &session, const Output &out)
{
    const int relay = session.options().relay;
    QByteArray reply = command::switchRele(session.unit().address, relay);
    // A garbled answer is not asked again: the unit heard the request, and a second one
    // would switch the relay back.
    if (const int code = session.call(reply, QStringLiteral("switching relay %1").arg(relay),
                                      Session::Garbled::Fail))
        return code;
    if (const int code = writeResult(reply, QStringLiteral("to switch relay %1").arg(relay)))
        return code;
    return out.result(QJsonObject{{"relay", relay}, {"switched", true}},
                      QStringLiteral("relay %1 switched").arg(relay));
}

} // namespace

int runRelay(Session &session, const Output &out)
{
    const CliOptions &o = session.options();
    // The values are checked before anything goes out on the line.
    QString fault;
    if (o.action == QLatin1String("set"))
        fault = setValuesFault(o);
    else if (o.action == QLatin1String("switch") && (o.relay < 1 || o.relay > boardPositions))
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
