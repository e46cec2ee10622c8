#include "commandcodes.h"
#include "commandset.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

// Shows an input board's alarm relay from a CMD_READ_ALARM_RELE reply: the relay board's
// item in `output` with its on-time and period (clamped by the spin boxes), or "Не задано"
// when the reply names no relay board of this unit.
void MainWindow::showInputBoardState(const QByteArray &reply)
{
    const command::AlarmRele rele = command::alarmRele(reply);
    const bool relayBoard =
        rele.relay >= 1 && rele.relay <= boardPositions && boardTypes[rele.relay] == RelayBoard;
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
