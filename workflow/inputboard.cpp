// Picking another input board shows the relay that board switches on alarm.

#include "commandset.h"
#include "exchangeresult.h"
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
    const int generation = connectionGeneration;
    stopPoll();
    if (connectionEnded(generation))
        return; // "Стоп" came while the poll was being stopped; `port` may be gone
    const int board = ui->input->itemText(ui->input->currentIndex()).toInt();
    QByteArray payload = command::readAlarmRele(ui->addr->value(), board);
    const int result = exchangeOn(port, payload);
    if (connectionEnded(generation))
        return;
    if (result != Ok) {
        handlerBusy = 0;
        linkFailed();
        return;
    }
    showInputBoardState(payload);
    qDebug() << "Interface" << interfaceMask;
    enableControls(interfaceMask);
    // Showing the assignment went through the change slots, which enable it.
    ui->set_rele->setEnabled(false);
    handlerBusy = 0;
    startPoll();
}
