#pragma once

#include "boardstatus.h"

#include <Qt>

// One look of the window's status field: its text (UTF-8), background and text colour,
// and what a screen reader says of it (the field's accessible description, UTF-8). The
// texts are sources of the window's translation context.
struct StatusLook
{
    const char *text;
    Qt::GlobalColor background;
    Qt::GlobalColor textColour;
    const char *spoken;
};

// The four looks of the status field, as indices into statusTable.
enum Look
{
    LookIdle = 0,
    LookNormal = 1,
    LookFault = 2,
    LookAlarm = 3,
};
constexpr int statusLookCount = 4;
extern const StatusLook statusTable[statusLookCount];

// The look that shows a board's status (the unit's rule of which status wins).
Look lookFor(unit::BoardStatus status);
