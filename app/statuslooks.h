#pragma once

#include <Qt>

// One look of the window's status field: its text (UTF-8), background and text colour.
struct StatusLook
{
    const char *text;
    Qt::GlobalColor background;
    Qt::GlobalColor textColour;
};

// The four looks of the status field: 0 idle, 1 normal, 2 fault, 3 alarm.
constexpr int statusLookCount = 4;
extern const StatusLook statusTable[statusLookCount];
