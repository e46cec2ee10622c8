#pragma once

#include <array>

// The line speeds a unit may be set to, in the order a search tries them.
constexpr std::array<int, 6> unitLineSpeeds{4800, 9600, 19200, 38400, 57600, 115200};

constexpr bool isUnitLineSpeed(int baud)
{
    for (const int speed : unitLineSpeeds)
        if (speed == baud)
            return true;
    return false;
}
