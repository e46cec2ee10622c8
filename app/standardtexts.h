#pragma once

#include <QString>

// Qt's own texts in Russian, like the window's: the buttons of every box ("Да" on the one
// button of a message box), the progress dialog's and the line edit's menu. Loads Qt's
// Russian catalogue of its standard texts (qtbase_ru.qm) from standardTextsFolder() and
// installs it on the application, which must exist; once per run, a second call changes
// nothing. Returns false when the catalogue is not there: Qt's texts then stay English.
bool installStandardTexts();

// Where the catalogue is looked for: Qt's own translations folder on Linux (Debian:
// qt6-translations-l10n), the folder "translations" beside the program on Windows, where
// the program is shipped with its Qt.
QString standardTextsFolder();
