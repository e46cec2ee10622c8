// Re-reads the unit after its case was opened and closed: the boards may have changed
// type, and the unit may answer at another address.

#include "commandcodes.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "mainwindow.h"
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
    ui->output->addItem(workflow::noRelayText());
    showStatus(0);
    ui->version->setText(QString());

    // On a failed exchange: clear the flag and report. After an ended connection: nothing.
    auto failed = [this, generation](int result) {
        if (connectionEnded(generation))
            return true;
        if (result == Ok)
            return false;
        handlerBusy = 0;
        linkFailed();
        return true;
    };

    QByteArray payload = command::readBoards(unitAddress);
    if (failed(exchangeOn(port, payload)))
        return;
    const int boardMap = command::boardMap(payload);
    int mask = 0;
    for (int position = 1; position <= boardPositions; ++position) {
        const int kind = command::boardKind(boardMap, position);
        boardTypes[position] = kind;
        if (kind == InputBoard) {
            ui->input->addItem(QString::number(position), position - 1);
            mask |= workflow::inputBoardMask;
        } else if (kind == RelayBoard) {
            ui->output->addItem(QString::number(position), position - 1);
            mask |= workflow::relayBoardMask;
        }
    }
    interfaceMask = mask;

    payload = command::readAddress();
    if (failed(exchangeOn(port, payload)))
        return;
    unitAddress = command::unitAddress(payload);
    ui->addr->setValue(unitAddress);

    payload = command::readVersion(unitAddress);
    if (failed(exchangeOn(port, payload)))
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
    if (failed(exchangeOn(port, payload)))
        return;
    showInputBoardState(payload);
    enableControls(mask);
    startPoll();
    handlerBusy = 0;
}
