#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <array>
#include <functional>
#include <mutex>
#include <optional>

// What one ВЕРТАЛ-КП unit holds: its address, line speed, boards and their live values.
struct UnitState
{
    struct AlarmRelay
    {
        quint8 relay = 0;   // position of the relay board switched on alarm; 0 none
        quint16 onTime = 0; // seconds
        quint16 period = 0; // seconds
    };

    quint8 address = 1;
    int lineSpeed = 19200;
    quint8 boardMap = 0x29; // 1 input, 2 and 3 relay, 4 empty
    quint8 versionMajor = 1;
    quint8 versionMinor = 5;
    bool caseOpen = false;
    // Index 0..3 stands for positions 1..4.
    std::array<quint8, 4> status{}; // alarm 0x01, fault 0x02 as set by the operator
    std::array<quint16, 4> value{}; // current 16-bit value of an input board
    std::array<AlarmRelay, 4> alarmRelay{};
    std::array<bool, 4> relayOn{};
    // Firmware variants seen in the field: writes (0x2C, 0x2D, 0x2E) acknowledged with
    // [addr, command, chk] and no result byte; an alarm relay assignment taken but not kept.
    bool shortWriteReplies = false;
    bool storesAlarmRelay = true;

    // Kind of board at position 1..4 (0 none, 1 input, 2 relay, 3 unused); 0 outside 1..4.
    int boardKind(int position) const;
    void setBoardKind(int position, int kind);
    // Status byte the unit reports for position 1..4: the tamper bit joins every input
    // board's status while the case is open.
    quint8 reportedStatus(int position) const;
};

// The unit's behaviour: answers request payloads as the unit on the far end of the line
// does. No I/O.
//
// Reply layout (every reply: byte 0 the unit's own address, last byte the 8-bit wrapping
// sum of all bytes before it, a check byte of the unit's own):
//   0x04 READ_STATUS     [0, st1, st2, st3, st4, chk]      stN: status of position N;
//                        byte 0 is "position 0", which holds no board: nothing to report
//   0x05 READ_BOARDS     [addr, map, chk]
//   0x0B READ_ALARM_RELE [addr, n, kind, status, value lo, value hi,
//                         relay, on-time lo, hi, period lo, hi, chk]   (n outside 1..4: zeros)
//   0x20 READ_ADDRESS    [addr, addr, chk]
//   0x26 READ_VERSION    [addr, major, minor, chk]
//   0x29 READ_VALUE      [addr, value lo, value hi, chk]   (n outside 1..4: zero)
//   0x2C, 0x2D, 0x2E     [addr, command, result, chk]      result 0 done, 1 refused
//                        ([addr, command, chk] with shortWriteReplies)
// Writes: 0x2C sets the kind of position n to the type code (0..3; others refused);
// 0x2D stores the assignment of position n (1..4); 0x2E toggles the relay of
// relay-board position n (other positions refused). A write takes effect even when its
// reply is then lost on the line.
// The unit ignores (no reply) requests to another address than its own or 0, unknown
// command codes, and requests whose length is not exactly that of their command.
//
// Thread-safe: every member may be called from any thread.
class SimUnit
{
public:
    SimUnit() = default;
    explicit SimUnit(const UnitState &initial) : current(initial) {}

    UnitState state() const;
    void setState(const UnitState &state);
    // Applies `change` to the state as one atomic step.
    void modify(const std::function<void(UnitState &)> &change);

    int lineSpeed() const;

    // Reply payload (with its trailing check byte) for a request payload, or nothing when
    // the unit stays silent.
    std::optional<QByteArray> handleRequest(const QByteArray &request);

private:
    mutable std::mutex mutex;
    UnitState current;
};
