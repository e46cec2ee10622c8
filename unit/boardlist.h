#pragma once

#include <QList>
#include <QString>

namespace unit {

// Control groups the boards of a unit allow (bits of the window's control mask).
constexpr int inputBoardMask = 0x1878;
constexpr int relayBoardMask = 0x2780;

// The boards of a board map, by kind, positions 1..4 in order.
struct BoardLists
{
    int kinds[5] = {}; // BoardKind by position 1..4; entry 0 unused
    QList<int> input;  // positions of the input boards
    QList<int> relay;  // positions of the relay boards
    // The control mask they allow: 0 when the unit has neither kind of board.
    int mask() const;
};
BoardLists boardLists(int boardMap);

// Position of the first input board of the map, 0 when it has none.
int firstInputBoard(int boardMap);

// "none", "input", "relay" or "unused" for a BoardKind: the kind's name in results, saved
// configurations and published states.
QString boardKindName(int kind);

// True for a board position, 1..4.
bool isBoardPosition(int position);
// True when the board at `position` is a relay board.
bool isRelayBoard(int boardMap, int position);
// True when the board at `position` is an input board.
bool isInputBoard(int boardMap, int position);

} // namespace unit
