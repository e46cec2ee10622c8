#include "fontfit.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindow window; // destroyed before the application object
    fitFontFamily(&window);
    window.show();
    return app.exec();
}
