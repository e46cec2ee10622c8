#include "fontfit.h"
#include "mainwindow.h"

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The window declares a board type slot that no control of the form carries; binding
    // the slots by name would warn about it on every start.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false"));
    MainWindow window; // destroyed before the application object
    fitFontFamily(&window);
    window.show();
    return app.exec();
}
