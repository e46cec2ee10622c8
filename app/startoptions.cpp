// What the command line asks of the window at start.
#include "startoptions.h"
#include "mainwindow.h"
#include "portlistrefresh.h"
#include "ui_mainwindow.h"

void MainWindow::applyStartOptions(const StartOptions &options)
{
    if (!options.port.isEmpty()) {
        if (ui->com_port->findText(options.port) < 0) {
            portList->keep(options.port);
            portList->refresh();
        }
        ui->com_port->setCurrentIndex(ui->com_port->findText(options.port));
    }
    if (options.address >= 0)
        ui->addr->setValue(options.address);
    firstSpeed = options.speed;
}
