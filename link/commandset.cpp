#include "commandset.h"

#include "commandcodes.h"

#include <initializer_list>

namespace command {

namespace {

// Writes each value's low 8 bits at its index into an empty buffer.
QByteArray request(std::initializer_list<int> bytes)
{
    QByteArray payload;
    for (int value : bytes)
        payload.append(char(quint8(value & 0xFF)));
    return payload;
}

int lowByte(int value)
{
    return value & 0xFF;
}
int highByte(int value)
{
    return (value >> 8) & 0xFF;
}

} // namespace

QByteArray readStatus(int address, int board)
{
    return request({address, CMD_READ_STATUS, board});
}
QByteArray readBoards(int address)
{
    return request({address, CMD_READ_BOARDS});
}
QByteArray readAlarmRele(int address, int board)
{
    return request({address, CMD_READ_ALARM_RELE, board});
}
QByteArray readAddress()
{
    return request({0x00, CMD_READ_ADDRESS});
}
QByteArray readVersion(int address)
{
    return request({address, CMD_READ_VERSION});
}
QByteArray readValue(int address, int board)
{
    return request({address, CMD_READ_VALUE, board});
}
QByteArray setBoardType(int address, int board, int type)
{
    return request({address, CMD_SET_BOARD_TYPE, board, type});
}
QByteArray setAlarmRele(int address, int board, int relay, int onTime, int period)
{
    return request({address, CMD_SET_ALARM_RELE, board, relay, lowByte(onTime), highByte(onTime),
                    lowByte(period), highByte(period)});
}
QByteArray switchRele(int address, int relay)
{
    return request({address, CMD_SWITCH_RELE, relay});
}

int replyByte(const QByteArray &reply, int index)
{
    if (index < 0 || index >= reply.size())
        return 0;
    return quint8(reply.at(index));
}

int replyWord(const QByteArray &reply, int lowIndex)
{
    return replyByte(reply, lowIndex + 1) * 256 + replyByte(reply, lowIndex);
}

int boardKind(int boardMap, int position)
{
    return (boardMap >> (2 * (position - 1))) & 3;
}
int boardMap(const QByteArray &reply)
{
    return replyByte(reply, 1);
}
int statusByte(const QByteArray &reply, int board)
{
    return replyByte(reply, board);
}
int unitAddress(const QByteArray &reply)
{
    return replyByte(reply, 1);
}
int versionMajor(const QByteArray &reply)
{
    return replyByte(reply, 1);
}
int versionMinor(const QByteArray &reply)
{
    return replyByte(reply, 2);
}
int currentValue(const QByteArray &reply)
{
    return replyWord(reply, 1);
}

AlarmRele alarmRele(const QByteArray &reply)
{
    AlarmRele rele;
    rele.relay = replyByte(reply, 6);
    rele.onTime = replyWord(reply, 7);
    rele.period = replyWord(reply, 9);
    return rele;
}

} // namespace command
