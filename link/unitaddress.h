#pragma once

#include <QString>

// The highest unit address a request can carry (one byte).
constexpr int maxUnitAddress = 255;

// A unit address as the operator writes it, on the window's command line and vertal-cli's
// alike: decimal ("16") or hexadecimal with 0x ("0x10"), 0..255, nothing else around it.
// Returns the address, or -1 when the text is not one.
int parseUnitAddress(const QString &text);
