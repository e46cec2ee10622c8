#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace unit {
struct FoundUnit;
}

// How results name the unit's things, in text and in JSON.

// "1 input, 2 relay, 3 relay, 4 none".
QString boardsText(int boardMap);
// [{"position":1,"kind":"input"}, ...] for the four positions.
QJsonArray boardsJson(int boardMap);

// "alarm", "fault" or "normal", as the window paints it (alarm wins over fault).
QString statusName(int statusByte);
// "alarm", "alarm, case open", ...
QString statusText(int statusByte);
// {"board":N,"state":...,"status":byte,"alarm":..,"fault":..,"tamper":..}
QJsonObject statusJson(int board, int statusByte);

// {"relay":R,"time":S,"period":S}, and "relay R for S s every S s" (relay 0: "no relay").
QJsonObject alarmReleJson(int board, int relay, int onTime, int period);
QString alarmReleText(int board, int relay, int onTime, int period);

// The unit as find reports it: speed, address, version and boards. Speed 0 is a line whose
// speed the program does not know (a bare TCP socket's: the server's).
QJsonObject unitJson(const QString &port, const unit::FoundUnit &unit);
QString unitText(const QString &port, const unit::FoundUnit &unit);
