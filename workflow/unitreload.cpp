// Re-reads the unit after its case was opened and closed: the boards may have changed
// type, and a unit found by asking its address may answer at another one.

#include "commandcodes.h"
#include "commandset.h"
#include "mainwindow.h"
#include "statuslooks.h"
#include "ui_mainwindow.h"
#include "workflowtexts.h"

void MainWindow::reloadUnit()
{
    const int generation = connectionGeneration;
    handlerBusy = 1;
    stopPoll();
    if (connectionEnded(generation))
        return;
    ui->input->clear();
    ui->output->clear();
    ui->output->addItem(workflow::noRelayText);
    showStatus(LookIdle);
    ui->version->setText(QString());

    QByteArray payload = command::readBoards(unitAddress);
    if (mustStop(generation, exchangeOn(port, payload)))
        return;
    const int mask = listBoards(command::boardMap(payload));
    interfaceMask = mask;

    // The unit may have taken another address; only a search that asked for it (address 0
    // given) asks again. On a line with several units every one answers address 0 and the
    // replies collide: the address given stays the unit's.
    if (addressAsked) {
        payload = command::readAddress();
        if (mustStop(generation, exchangeOn(port, payload)))
            return;
        unitAddress = command::unitAddress(payload);
        ui->addr->setValue(unitAddress);
    }

    payload = command::readVersion(unitAddress);
    if (mustStop(generation, exchangeOn(port, payload)))
        return;
    showVersion(payload);

    if (ui->input->count() == 0) {
        criticalMessage(QStringLiteral("Не обнаружены платы ввода !\nПосле изменения типа плат "
                                       "однократно нажмите тампер и\nперезапустите поиск!"));
        if (connectionEnded(generation))
            return;
        linkFailed();
        return;
    }
    const int board = selectedInputBoard();
    payload = command::readAlarmRele(unitAddress, board);
    if (mustStop(generation, exchangeOn(port, payload)))
        return;
    showInputBoardState(board, payload);
    enableControls(mask);
    startPoll();
    handlerBusy = 0;
}
