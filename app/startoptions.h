#pragma once

#include <QString>

// What the command line asks of the window at start. Unset values leave the window as it
// starts without options.
struct StartOptions
{
    QString port;     // chosen at start; added to the list when the system does not list it
    int address = -1; // 0..255 for the address field
    int speed = 0;    // the line speed the search tries first
    QString trace;    // file that every frame sent and received is appended to
    QString language; // "en": the English window; empty or "ru": the window as written
};
