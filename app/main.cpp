#include "fontfit.h"
#include "mainwindow.h"
#include "quitonsignals.h"

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
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
