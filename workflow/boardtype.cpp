// Sets the type of the selected input board on the unit. No control of the window is
// bound to this slot; the unit takes the new type after its case is opened and closed.

#include "commandset.h"
#include "exchangeresult.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "workflowtexts.h"

void MainWindow::on_type_currentIndexChanged(int type)
{
    if (handlerBusy || portBusy())
        return;
    handlerBusy = 1;
    const int generation = connectionGeneration;
    const int board = ui->input->itemText(ui->input->currentIndex()).toInt();
    QByteArray payload = command::setBoardType(unitAddress, board, type);
    stopPoll();
    if (connectionEnded(generation))
        return; // "Стоп" came while the poll was being stopped; `port` may be gone
    const int result = exchangeOn(port, payload);
    if (connectionEnded(generation))
        return;
    if (result != Ok) {
        handlerBusy = 0;
        linkFailed();
        return;
    }
    startPoll();
    if (connectionEnded(generation))
        return; // "Стоп" came while the poll was restarted
    enableControls(workflow::boardTypeMask);
    ui->set_rele->setEnabled(false);
    handlerBusy = 0;
}
