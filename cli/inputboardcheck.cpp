// The window offers only the input boards it found; a script may name any position.
#include "commandcodes.h"
#include "commands.h"
#include "commandset.h"
#include "describe.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"

int checkInputBoard(const Session &session, int board)
{
    if (board < 1 || board > 4) {
        Output::error(QStringLiteral("--board %1: board positions are 1..4").arg(board));
        return ExitRefused;
    }
    if (command::boardKind(session.unit().boardMap, board) != InputBoard) {
        Output::error(QStringLiteral("board %1 is not an input board (boards: %2)")
                          .arg(board)
                          .arg(boardsText(session.unit().boardMap)));
        return ExitRefused;
    }
    return ExitDone;
}
