// status and value: one reading, or with --watch a reading every --interval ms until
// Ctrl-C (exit 0). A reading that fails ends the stream with its exit code.
#include "clioptions.h"
#include "commandcodes.h"
#include "commands.h"
#include "commandset.h"
#include "describe.h"
#include "exitcodes.h"
#include "frametrace.h"
#include "interrupt.h"
#include "output.h"
#include "session.h"

#include <functional>

namespace {

// Runs `reading` once, or again and again while watching and not interrupted.
int repeat(const Session &session, const std::function<int()> &reading)
{
    const CliOptions &o = session.options();
    if (o.watch)
        interrupt::takeOver();
    do {
        if (const int code = reading())
            return code;
    } while (o.watch && interrupt::wait(o.intervalMs));
    return ExitDone;
}

// The input boards a status reading covers: --board, or every input board found.
QList<int> statusBoards(const Session &session)
{
    if (session.options().board >= 0)
        return {session.options().board};
    QList<int> boards;
    for (int p = 1; p <= boardPositions; ++p)
        if (command::boardKind(session.unit().boardMap, p) == InputBoard)
            boards << p;
    return boards;
}

int readStatus(Session &session, const QList<int> &boards, const Output &out)
{
    QJsonArray readings;
    QStringList lines;
    const QString time = traceStamp();
    for (const int board : boards) {
        QByteArray reply = command::readStatus(session.unit().address, board);
        if (const int code =
                session.call(reply, QStringLiteral("reading the status of board %1").arg(board)))
            return code;
        const int byte = command::statusByte(reply, board);
        readings.append(statusJson(board, byte));
        const QString line = QStringLiteral("board %1 %2").arg(board).arg(statusText(byte));
        lines << (session.options().watch ? time + QLatin1Char(' ') + line : line);
    }
    return out.result(QJsonObject{{"time", time}, {"boards", readings}},
                      lines.join(QLatin1Char('\n')));
}

int readValue(Session &session, int board, const Output &out)
{
    QByteArray reply = command::readValue(session.unit().address, board);
    if (const int code =
            session.call(reply, QStringLiteral("reading the value of board %1").arg(board)))
        return code;
    const int value = command::currentValue(reply);
    const QString time = traceStamp();
    const QString line = QStringLiteral("board %1 value %2").arg(board).arg(value);
    return out.result(QJsonObject{{"time", time}, {"board", board}, {"value", value}},
                      session.options().watch ? time + QLatin1Char(' ') + line : line);
}

} // namespace

int runStatus(Session &session, const Output &out)
{
    if (const int code = session.connect())
        return code;
    const QList<int> boards = statusBoards(session);
    if (boards.isEmpty()) {
        Output::error(QStringLiteral("the unit has no input board (boards: %1)")
                          .arg(boardsText(session.unit().boardMap)));
        return ExitRefused;
    }
    for (const int board : boards)
        if (const int code = checkInputBoard(session, board))
            return code;
    return repeat(session, [&] { return readStatus(session, boards, out); });
}

int runValue(Session &session, const Output &out)
{
    const int board = session.options().board;
    if (const int code = session.connect())
        return code;
    if (const int code = checkInputBoard(session, board))
        return code;
    return repeat(session, [&] { return readValue(session, board, out); });
}
