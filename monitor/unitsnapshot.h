#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <array>

namespace monitor {

// One board of a unit as the monitor last read it.
struct BoardSnapshot
{
    int kind = 0;       // BoardKind
    int statusByte = 0; // input boards: the status byte the unit reported
    int value = -1;     // input boards with values on: the current value; -1 not read
    int relay = 0;      // input boards: the alarm relay, its on-time and period (seconds)
    int time = 0;
    int period = 0;
};

// A unit as the monitor last read it whole (boards, firmware, assignments) and then polled.
struct UnitSnapshot
{
    QString line;
    int address = 0;
    int speed = 0; // 0: a bare TCP server's line, speed unknown
    int versionMajor = 0;
    int versionMinor = 0;
    int boardMap = 0;
    std::array<BoardSnapshot, 4> boards{}; // positions 1..4
    bool values = false;                   // the line reads values
    QDateTime readAt;                      // UTC, when this snapshot's poll ended

    // The case is open: the tamper bit of any input board's status.
    bool caseOpen() const;
    // Same state to publish (readAt aside).
    bool sameState(const UnitSnapshot &other) const;
};

// The retained state message: {"line":..,"address":..,"firmware":"1.5","speed":..,
// "boards":[{"position":1,"kind":"input","status":"normal","tamper":false,"status_byte":0,
// "value":1234,"relay":2,"time":30,"period":5},{"position":2,"kind":"relay"},...]}
// ("value" only when the line reads values).
QJsonObject stateJson(const UnitSnapshot &unit);

} // namespace monitor
