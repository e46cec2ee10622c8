// Picking another input board shows the relay that board switches on alarm.

#include "commandset.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QDebug>

void MainWindow::on_input_currentIndexChanged(int)
{
    // Changes made by the window's own operations, and changes while another operation
    // waits for the unit on the primary worker, are dropped.
    if (handlerBusy || portBusy())
        return;
    handlerBusy = 1;
    QByteArray reply;
    const auto request = [this] {
        return command::readAlarmRele(ui->addr->value(), selectedInputBoard());
    };
    if (!askUnit(request, reply))
        return;
    showInputBoardState(reply);
    qDebug() << "Interface" << interfaceMask;
    enableControls(interfaceMask);
    // Showing the assignment went through the change slots, which enable it.
    ui->set_rele->setEnabled(false);
    handlerBusy = 0;
    startPoll();
}
