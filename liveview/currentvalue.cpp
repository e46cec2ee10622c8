#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "ccomport.h"
#include "dialog.h"

// "Текущее значение": the live value of the selected input board in a modal dialog, with
// the status poll paused for as long as it is open.
void MainWindow::on_current_value_released()
{
    // The primary worker is still busy with another operation's exchange (the click landed
    // inside it): one exchange at a time on a worker, so the click is dropped.
    if (!port || port->isExchanging())
        return;

    const int index = ui->input->currentIndex();
    stopPoll();
    const int board = ui->input->itemText(index).toInt(nullptr, 10);
    const int address = ui->addr->value();

    Dialog dialog(this, port, board, address);
    dialog.exec();

    startPoll();
}
