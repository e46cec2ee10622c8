#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "dialog.h"

// "Текущее значение": the live value of the selected input board in a modal dialog, with
// the status poll paused for as long as it is open.
void MainWindow::on_current_value_released()
{
    // The click landed inside another operation's exchange on the primary worker, which
    // carries one exchange at a time: dropped, like an index change while busy.
    if (portBusy())
        return;

    const int generation = workers.generation();
    const int index = ui->input->currentIndex();
    stopPoll();
    const int board = ui->input->itemText(index).toInt(nullptr, 10);
    const int address = ui->addr->value();

    Dialog dialog(this, port, board, address);
    dialog.exec();

    // A status tick already in flight when the dialog opened may have failed meanwhile
    // and ended the connection: an idle window gets no poll.
    if (!connectionEnded(generation))
        startPoll();
}
