#include "commandline.h"
#include "fontfit.h"
#include "frametrace.h"
#include "mainwindow.h"
#include "quitonsignals.h"
#include "windowlanguage.h"
#include "vertalversion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>
#include <cstdio>

namespace {
// Says what is wrong with the command line, as Qt's parser does, and gives the exit status.
int refuse(const QString &error)
{
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("ВЕРТАЛ"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("vertal.github.io"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VERTAL_VERSION));
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (asksForTextOnly(parser, argc, argv)) {
        QCoreApplication console(argc, argv);
        if (parser.isSet(QStringLiteral("version")))
            parser.showVersion(); // both print their answer and leave with status 0
        parser.showHelp();
    }
    StartOptions options;
    QString error;
    if (!readStartOptions(parser, options, error))
        return refuse(error);
    FrameTrace trace; // kept until the window, and every worker with it, is gone
    if (!options.trace.isEmpty() && !openTrace(trace, options.trace, error))
        return refuse(error);
    QApplication app(argc, argv);
    if (!installWindowLanguage(options.language))
        return refuse(QStringLiteral("--language %1: the translation is missing from this build")
                          .arg(options.language));
    // The launcher entry this window belongs to: its icon and its place in the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral(VERTAL_DESKTOP_ID));
    parser.process(app);
    quitOnSignals();
    // The window declares a board type slot that no control of the form carries; binding
    // the slots by name would warn about it on every start.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false"));
    MainWindow window; // destroyed before the application object
    window.applyStartOptions(options);
    // The value dialog and the message boxes are windows of their own: give them the
    // family the main window settled on.
    QFont font = QApplication::font();
    font.setFamily(fitFontFamily(&window));
    QApplication::setFont(font);
    window.show();
    return app.exec();
}
