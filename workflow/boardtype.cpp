// Sets the type of the selected input board on the unit. No control of the window is
// bound to this slot; the unit takes the new type after its case is opened and closed.

#include "commandset.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "workflowtexts.h"

void MainWindow::on_type_currentIndexChanged(int type)
{
    if (handlerBusy || portBusy())
        return;
    handlerBusy = 1;
    const int generation = workers.generation();
    const QByteArray request = command::setBoardType(unitAddress, selectedInputBoard(), type);
    QByteArray reply;
    if (!askUnit([&request] { return request; }, reply))
        return;
    startPoll();
    if (connectionEnded(generation))
        return; // "Стоп" came while the poll was restarted
    enableControls(workflow::boardTypeMask);
    ui->set_rele->setEnabled(false);
    handlerBusy = 0;
}
