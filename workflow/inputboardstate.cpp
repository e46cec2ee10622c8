#include "boardlist.h"
#include "commandcodes.h"
#include "commandset.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

// Shows input board `board`'s alarm relay from its CMD_READ_ALARM_RELE reply, and selects
// that board in `input`, so that the board shown and the assignment shown always belong
// together: the relay board's item in `output` with its on-time and period (clamped by the
// spin boxes), or "Не задано" when the reply names no relay board of this unit.
void MainWindow::showInputBoardState(int board, const QByteArray &reply)
{
    shownInputBoard = board;
    const int boardIndex = ui->input->findText(QString::number(board));
    if (boardIndex >= 0)
        ui->input->setCurrentIndex(boardIndex);
    const command::AlarmRele rele = command::alarmRele(reply);
    const bool relayBoard =
        unit::isBoardPosition(rele.relay) && boardTypes[rele.relay] == RelayBoard;
    if (!relayBoard) {
        ui->output->setCurrentIndex(0);
        return;
    }
    for (int k = 1; k < ui->output->count(); ++k) {
        if (ui->output->itemText(k).toInt() != rele.relay)
            continue;
        ui->output->setCurrentIndex(k);
        ui->a_time->setValue(rele.onTime);
        ui->a_period->setValue(rele.period);
    }
}

// A change of `input` that cannot be acted on now (the window is refilling its lists, or
// another operation waits for the unit): the selection goes back to the board whose alarm
// relay the relay group shows, rather than stand beside another board's assignment that a
// later "Установить" would then write to it.
void MainWindow::keepInputBoardShown()
{
    if (shownInputBoard == 0 || selectedInputBoard() == shownInputBoard)
        return;
    const int index = ui->input->findText(QString::number(shownInputBoard));
    if (index >= 0)
        ui->input->setCurrentIndex(index);
}
