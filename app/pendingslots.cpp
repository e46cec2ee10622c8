#include "mainwindow.h"

// Handlers whose operations on the unit are not in the program yet.

void MainWindow::on_current_value_released() {}
