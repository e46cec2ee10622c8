#pragma once

#include <QString>

class QWidget;

// The form places its labels at fixed widths made for a compact sans-serif face; wider
// platform faces clip them ("Плата вход"). Keeps the font of `window` when every label and
// button text fits its control, else gives the window the first installed family from a
// short list of common faces in which they all fit (point sizes stay as they are). Changes
// nothing when none fits. Returns the family the window uses afterwards.
QString fitFontFamily(QWidget *window);
