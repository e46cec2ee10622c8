// info: the unit as find reports it, then each input board's status and alarm relay.
#include "commandcodes.h"
#include "commands.h"
#include "commandset.h"
#include "describe.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"

namespace {

// Status and alarm relay of input board `board`, into `object` and `text`.
int readInputBoard(Session &session, int board, QJsonObject &object, QString &text)
{
    const int address = session.unit().address;
    QByteArray status = command::readStatus(address, board);
    if (const int code =
            session.call(status, QStringLiteral("reading the status of board %1").arg(board)))
        return code;
    QByteArray alarm = command::readAlarmRele(address, board);
    if (const int code =
            session.call(alarm, QStringLiteral("reading the alarm relay of board %1").arg(board)))
        return code;
    const int byte = command::statusByte(status, board);
    const command::AlarmRele rele = command::alarmRele(alarm);
    object = statusJson(board, byte);
    object.insert("relay", rele.relay);
    object.insert("time", rele.onTime);
    object.insert("period", rele.period);
    text = QStringLiteral("board %1 %2; %3")
               .arg(board)
               .arg(statusText(byte))
               .arg(alarmReleText(board, rele.relay, rele.onTime, rele.period)
                        .section(QLatin1Char(' '), 2));
    return ExitDone;
}

} // namespace

int runInfo(Session &session, const Output &out)
{
    if (const int code = session.connect())
        return code;
    QJsonObject object = unitJson(session.options().port, session.unit());
    QString text = unitText(session.options().port, session.unit());
    QJsonArray inputs;
    for (int board = 1; board <= boardPositions; ++board) {
        if (command::boardKind(session.unit().boardMap, board) != InputBoard)
            continue;
        QJsonObject input;
        QString line;
        if (const int code = readInputBoard(session, board, input, line))
            return code;
        inputs.append(input);
        text += QLatin1Char('\n') + line;
    }
    object.insert("inputs", inputs);
    return out.result(object, text);
}
