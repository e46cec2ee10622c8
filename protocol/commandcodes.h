#pragma once

#include <QtGlobal>

// Command codes of the unit (byte 1 of every request payload).
enum CommandCode : quint8
{
    CMD_READ_STATUS = 0x04,     // [addr, 0x04, board]          -> byte `board`: status
    CMD_READ_BOARDS = 0x05,     // [addr, 0x05]                 -> byte 1: board map
    CMD_READ_ALARM_RELE = 0x0B, // [addr, 0x0B, board]          -> 6 relay, 7-8 on-time, 9-10 period
    CMD_READ_ADDRESS = 0x20,    // [0x00, 0x20]                 -> byte 1: unit address
    CMD_READ_VERSION = 0x26,    // [addr, 0x26]                 -> byte 1 major, byte 2 minor
    CMD_READ_VALUE = 0x29,      // [addr, 0x29, board]          -> bytes 1-2: value, low first
    CMD_SET_BOARD_TYPE = 0x2C,  // [addr, 0x2C, board, type]
    CMD_SET_ALARM_RELE = 0x2D,  // [addr, 0x2D, board, relay, time lo, hi, period lo, hi]
    CMD_SWITCH_RELE = 0x2E,     // [addr, 0x2E, relay]
};

// Board kinds in the board map: two bits per position, position p in bits 2(p-1)..2(p-1)+1.
enum BoardKind : int
{
    NoBoard = 0,
    InputBoard = 1,
    RelayBoard = 2,
    UnusedBoardKind = 3, // means nothing to the wizard; treated like no board
};

// Status byte bits of CMD_READ_STATUS.
enum StatusBit : quint8
{
    StatusAlarm = 0x01,
    StatusFault = 0x02,
    StatusTamper = 0x10, // the unit's case is open
};

constexpr int boardPositions = 4;
