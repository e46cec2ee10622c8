#pragma once

#include <QString>

// The language the window speaks. Without --language (or with "ru") it is the window as it
// is written, in Russian, with Qt's own texts in Russian too (standardtexts.h); "en"
// installs the English translation compiled into the program, and Qt's texts stay its own
// English. Needs the application object. False when the translation cannot be installed.
bool installWindowLanguage(const QString &language);

// The languages --language takes.
bool isWindowLanguage(const QString &language);
