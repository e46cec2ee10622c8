#include "fontfit.h"
#include "mainwindow.h"
#include "quitonsignals.h"
#include "vertalversion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>

namespace {

// The options the wizard understands. Qt's own options (-platform, -style, ...) begin
// with a single dash, so single-dash words are taken as long names, not as letter runs.
void describeCommandLine(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Finds a ВЕРТАЛ-КП unit on a serial line and configures it."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// True when the command line asks for --help or --version: those are answered on the
// console before the window system is reached, so they work without a display. Options
// unknown here (Qt's own, such as -platform) do not stand in their way.
bool asksForTextOnly(QCommandLineParser &parser, int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    parser.parse(args);
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationVersion(QStringLiteral(VERTAL_VERSION));
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (asksForTextOnly(parser, argc, argv)) {
        QCoreApplication console(argc, argv);
        if (parser.isSet(QStringLiteral("version")))
            parser.showVersion(); // both print their answer and leave with status 0
        parser.showHelp();
    }
    QApplication app(argc, argv);
    // The launcher entry this window belongs to: its icon and its place in the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral(VERTAL_DESKTOP_ID));
    parser.process(app);
    quitOnSignals();
    // The window declares a board type slot that no control of the form carries; binding
    // the slots by name would warn about it on every start.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false"));
    MainWindow window; // destroyed before the application object
    // The value dialog and the message boxes are windows of their own: give them the
    // family the main window settled on.
    QFont font = QApplication::font();
    font.setFamily(fitFontFamily(&window));
    QApplication::setFont(font);
    window.show();
    return app.exec();
}
