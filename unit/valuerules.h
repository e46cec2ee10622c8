#pragma once

#include <QString>

// What the unit may be sent for an input board's alarm relay: the window's spin boxes and
// checks and the console program's options follow these.
namespace unit {

constexpr int maxOnTime = 300; // seconds
constexpr int maxPeriod = 120; // seconds

bool onTimeInRange(int onTime);
bool periodInRange(int period);
// An on-time above 0 must be greater than the period: the unit refuses one that is not
// ("Время меньше или равно периоду !").
bool onTimeAbovePeriod(int onTime, int period);

// The relay number in `text` when it names a board position (1..4).
bool relayNumber(const QString &text, int &relay);

} // namespace unit
