#include "boardlist.h"

#include "commandcodes.h"
#include "commandset.h"

namespace unit {

int BoardLists::mask() const
{
    return (input.isEmpty() ? 0 : inputBoardMask) | (relay.isEmpty() ? 0 : relayBoardMask);
}

BoardLists boardLists(int boardMap)
{
    BoardLists lists;
    for (int position = 1; position <= boardPositions; ++position) {
        const int kind = command::boardKind(boardMap, position);
        lists.kinds[position] = kind;
        if (kind == InputBoard)
            lists.input << position;
        else if (kind == RelayBoard)
            lists.relay << position;
    }
    return lists;
}

int firstInputBoard(int boardMap)
{
    const BoardLists lists = boardLists(boardMap);
    return lists.input.isEmpty() ? 0 : lists.input.first();
}

QString boardKindName(int kind)
{
    static const char *const names[] = {"none", "input", "relay", "unused"};
    return QLatin1String(names[kind & 3]);
}

bool isBoardPosition(int position)
{
    return position >= 1 && position <= boardPositions;
}

bool isRelayBoard(int boardMap, int position)
{
    return isBoardPosition(position) && command::boardKind(boardMap, position) == RelayBoard;
}

bool isInputBoard(int boardMap, int position)
{
    return isBoardPosition(position) && command::boardKind(boardMap, position) == InputBoard;
}

} // namespace unit
