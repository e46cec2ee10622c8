#pragma once

#include <QByteArray>

// The unit's command set: request builders and reply readers.
//
// Every request is exactly the bytes listed for its command, each the low 8 bits of the
// value given (an address of 0x1C8 goes out as 0xC8). Replies are read by index, bytes as
// unsigned 0..255; a byte beyond the end of the reply reads as 0; 16-bit values come low
// byte first. Nothing in a reply is checked against its request. Pure functions, any thread.
namespace command {

// [address, 0x04, board]: status of input board `board` (0 when none is selected).
QByteArray readStatus(int address, int board);
// [address, 0x05]: the board map; also the probe of the line speed scan.
QByteArray readBoards(int address);
// [address, 0x0B, board]: the relay that input board `board` switches on alarm.
QByteArray readAlarmRele(int address, int board);
// [0x00, 0x20]: the unit's own address; always sent to address 0.
QByteArray readAddress();
// [address, 0x26]: firmware version.
QByteArray readVersion(int address);
// [address, 0x29, board]: current value of input board `board`.
QByteArray readValue(int address, int board);
// [address, 0x2C, board, type]: sets the type of input board `board`.
QByteArray setBoardType(int address, int board, int type);
// [address, 0x2D, board, relay, time lo, time hi, period lo, period hi].
QByteArray setAlarmRele(int address, int board, int relay, int onTime, int period);
// [address, 0x2E, relay]: switches relay `relay` by hand.
QByteArray switchRele(int address, int relay);

// Reply byte `index` as 0..255; 0 beyond the end (or for a negative index).
int replyByte(const QByteArray &reply, int index);
// The 16-bit value whose low byte is at `lowIndex`, 0..65535.
int replyWord(const QByteArray &reply, int lowIndex);

// Kind (BoardKind, 0..3) of the board at `position` (1..4) in a board map byte.
int boardKind(int boardMap, int position);
// Board map: reply byte 1 of readBoards.
int boardMap(const QByteArray &reply);
// Status byte of input board `board` in a readStatus reply (byte `board`).
int statusByte(const QByteArray &reply, int board);
// Unit address: reply byte 1 of readAddress.
int unitAddress(const QByteArray &reply);
// Firmware version: reply bytes 1 (major) and 2 (minor) of readVersion.
int versionMajor(const QByteArray &reply);
int versionMinor(const QByteArray &reply);
// Current value: reply bytes 1..2 of readValue.
int currentValue(const QByteArray &reply);

// An input board's alarm relay: reply bytes 6 (relay), 7..8 (on-time), 9..10 (period).
struct AlarmRele
{
    int relay = 0;  // relay board position, 0 none
    int onTime = 0; // seconds
    int period = 0; // seconds
};
AlarmRele alarmRele(const QByteArray &reply);

} // namespace command
