#pragma once

#include <QString>

class QWidget;

// The form places its labels at fixed widths made for a compact sans-serif face; wider
// platform faces clip them ("Плата вход", "Не задано"). Keeps the font of `window` when
// every label, button and combo box item (the port list aside) fits its control, else gives
// the window the first installed family from a short list of common faces in which they all
// fit, or failing that one in which at least the labels and buttons fit (point sizes stay as
// they are). A text that fits in no listed face (a large desktop font, say) then gets its
// control's point size stepped down until it fits, to 7 pt at the least. Used for every
// window of the program: the main window and the value dialog. Returns the family the
// window uses afterwards.
QString fitFontFamily(QWidget *window);

// True when every label, button and combo box item of `window` (the port list aside) fits
// its control in the window's font as it is: the check fitFontFamily makes.
bool textsFit(const QWidget *window);
