#include "windowlanguage.h"

#include "standardtexts.h"

#include <QCoreApplication>
#include <QTranslator>

namespace {
const QString english = QStringLiteral("en");
const QString russian = QStringLiteral("ru");
// Where the build puts the compiled translation, inside the program.
const QString englishCatalogue = QStringLiteral(":/translations/vertal-wizard_en.qm");
} // namespace

bool isWindowLanguage(const QString &language)
{
    return language.isEmpty() || language == russian || language == english;
}

bool installWindowLanguage(const QString &language)
{
    if (language != english) {
        installStandardTexts(); // without the catalogue, Qt's own texts stay English
        return true;
    }
    // Owned by the application: it stays installed for as long as there are texts to show.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(englishCatalogue) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
