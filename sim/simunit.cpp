#include "simunit.h"

#include "commandcodes.h"

namespace {

constexpr quint8 writeDone = 0;
constexpr quint8 writeRefused = 1;

bool isPosition(int n)
{
    return n >= 1 && n <= boardPositions;
}

// Exact request length of each command the unit knows; 0 for an unknown code.
int requestLength(quint8 command)
{
    switch (command) {
    case CMD_READ_BOARDS:
    case CMD_READ_ADDRESS:
    case CMD_READ_VERSION:
        return 2;
    case CMD_READ_STATUS:
    case CMD_READ_ALARM_RELE:
    case CMD_READ_VALUE:
    case CMD_SWITCH_RELE:
        return 3;
    case CMD_SET_BOARD_TYPE:
        return 4;
    case CMD_SET_ALARM_RELE:
        return 8;
    default:
        return 0;
    }
}

void appendWord(QByteArray &bytes, quint16 word)
{
    bytes.append(char(word & 0xFF));
    bytes.append(char(word >> 8));
}

QByteArray readAlarmRelay(const UnitState &s, int n)
{
    QByteArray body(10, '\0');
    if (!isPosition(n))
        return body;
    const UnitState::AlarmRelay &a = s.alarmRelay[n - 1];
    body.clear();
    body.append(char(n));
    body.append(char(s.boardKind(n)));
    body.append(char(s.reportedStatus(n)));
    appendWord(body, s.value[n - 1]);
    body.append(char(a.relay));
    appendWord(body, a.onTime);
    appendWord(body, a.period);
    return body;
}

quint8 setBoardType(UnitState &s, int n, int code)
{
    if (!isPosition(n) || code > UnusedBoardKind)
        return writeRefused;
    s.setBoardKind(n, code);
    return writeDone;
}

quint8 setAlarmRelay(UnitState &s, const QByteArray &r)
{
    const int n = quint8(r[2]);
    if (!isPosition(n))
        return writeRefused;
    if (!s.storesAlarmRelay)
        return writeDone;
    UnitState::AlarmRelay &a = s.alarmRelay[n - 1];
    a.relay = quint8(r[3]);
    a.onTime = quint16(quint8(r[4]) | quint8(r[5]) << 8);
    a.period = quint16(quint8(r[6]) | quint8(r[7]) << 8);
    return writeDone;
}

quint8 switchRelay(UnitState &s, int n)
{
    if (s.boardKind(n) != RelayBoard)
        return writeRefused;
    s.relayOn[n - 1] = !s.relayOn[n - 1];
    return writeDone;
}

// The body of a write's reply: the command, then its result unless the unit leaves it out.
QByteArray writeReply(const UnitState &s, quint8 command, quint8 result)
{
    QByteArray body(1, char(command));
    if (!s.shortWriteReplies)
        body.append(char(result));
    return body;
}

// The bytes after the address byte, for a request already checked for length.
QByteArray replyBody(UnitState &s, const QByteArray &r)
{
    const quint8 command = quint8(r[1]);
    const int n = r.size() > 2 ? quint8(r[2]) : 0;
    QByteArray body;
    switch (command) {
    case CMD_READ_STATUS:
        for (int p = 1; p <= boardPositions; ++p)
            body.append(char(s.reportedStatus(p)));
        return body;
    case CMD_READ_BOARDS:
        return QByteArray(1, char(s.boardMap));
    case CMD_READ_ALARM_RELE:
        return readAlarmRelay(s, n);
    case CMD_READ_ADDRESS:
        return QByteArray(1, char(s.address));
    case CMD_READ_VERSION:
        body.append(char(s.versionMajor));
        body.append(char(s.versionMinor));
        return body;
    case CMD_READ_VALUE:
        appendWord(body, isPosition(n) ? s.value[n - 1] : 0);
        return body;
    case CMD_SET_BOARD_TYPE:
        return writeReply(s, command, setBoardType(s, n, quint8(r[3])));
    case CMD_SET_ALARM_RELE:
        return writeReply(s, command, setAlarmRelay(s, r));
    case CMD_SWITCH_RELE:
        return writeReply(s, command, switchRelay(s, n));
    }
    return body;
}

} // namespace

int UnitState::boardKind(int position) const
{
    if (!isPosition(position))
        return NoBoard;
    return (boardMap >> (2 * (position - 1))) & 3;
}

void UnitState::setBoardKind(int position, int kind)
{
    const int shift = 2 * (position - 1);
    boardMap = quint8((boardMap & ~(3 << shift)) | ((kind & 3) << shift));
}

quint8 UnitState::reportedStatus(int position) const
{
    if (!isPosition(position))
        return 0;
    quint8 s = status[position - 1];
    if (caseOpen && boardKind(position) == InputBoard)
        s |= StatusTamper;
    return s;
}

UnitState SimUnit::state() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}

void SimUnit::setState(const UnitState &state)
{
    std::lock_guard<std::mutex> lock(mutex);
    current = state;
}

void SimUnit::modify(const std::function<void(UnitState &)> &change)
{
    std::lock_guard<std::mutex> lock(mutex);
    change(current);
}

int SimUnit::lineSpeed() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return current.lineSpeed;
}

std::optional<QByteArray> SimUnit::handleRequest(const QByteArray &request)
{
    if (request.size() < 2 || requestLength(quint8(request[1])) != request.size())
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex);
    const quint8 to = quint8(request[0]);
    if (to != 0 && to != current.address)
        return std::nullopt;
    // Byte 0 is the unit's address, but for a status reply it stands for "position 0":
    // no board is there, so a poll with no input board selected reads nothing to report.
    const bool statusReply = quint8(request.at(1)) == CMD_READ_STATUS;
    QByteArray reply(1, char(statusReply ? 0 : current.address));
    reply += replyBody(current, request);
    quint8 check = 0;
    for (char byte : std::as_const(reply))
        check = quint8(check + quint8(byte));
    reply.append(char(check));
    return reply;
}
