#include "standardtexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {
const QString catalogue = QStringLiteral("qtbase_ru");
} // namespace

QString standardTextsFolder()
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}

bool installStandardTexts()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    if (app->findChild<QTranslator *>(catalogue, Qt::FindDirectChildrenOnly))
        return true;
    // Owned by the application: it stays installed for as long as there are texts to show.
    auto *translator = new QTranslator(app);
    translator->setObjectName(catalogue);
    if (!translator->load(catalogue, standardTextsFolder()) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
