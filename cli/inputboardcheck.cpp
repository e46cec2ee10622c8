// The window offers only the input boards it found; a script may name any position.
#include "boardlist.h"
#include "commands.h"
#include "describe.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"

int checkInputBoard(const Session &session, int board)
{
    if (!unit::isBoardPosition(board)) {
        Output::error(QStringLiteral("--board %1: board positions are 1..4").arg(board));
        return ExitRefused;
    }
    if (!unit::isInputBoard(session.unit().boardMap, board)) {
        Output::error(QStringLiteral("board %1 is not an input board (boards: %2)")
                          .arg(board)
                          .arg(boardsText(session.unit().boardMap)));
        return ExitRefused;
    }
    return ExitDone;
}
