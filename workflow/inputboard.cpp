// Picking another input board shows the relay that board switches on alarm.

#include "commandset.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QDebug>

void MainWindow::on_input_currentIndexChanged(int)
{
    // Changes made by the window's own operations, and changes while another operation
    // waits for the unit on the primary worker, are not acted on.
    if (handlerBusy || portBusy()) {
        keepInputBoardShown();
        return;
    }
    handlerBusy = 1;
    QByteArray reply;
    int board = 0;
    const auto request = [this, &board] {
        board = selectedInputBoard();
        return command::readAlarmRele(ui->addr->value(), board);
    };
    if (!askUnit(request, reply))
        return;
    showInputBoardState(board, reply);
    qDebug() << "Interface" << interfaceMask;
    enableControls(interfaceMask);
    // Showing the assignment went through the change slots, which enable it.
    ui->set_rele->setEnabled(false);
    handlerBusy = 0;
    startPoll();
}
