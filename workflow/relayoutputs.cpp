// The relay group: write the selected input board's alarm relay, switch a relay by hand,
// and re-enable "Установить" after an edit.

#include "commandset.h"
#include "exchangeresult.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_set_rele_released()
{
    // Another operation is waiting for the unit on the primary worker: the press is
    // dropped, as an input board change would be.
    if (portBusy())
        return;
    ui->set_rele->setEnabled(false);
    const int onTime = ui->a_time->value();
    const int period = ui->a_period->value();
    if (onTime > 0 && period >= onTime) {
        criticalMessage(QStringLiteral("Время меньше или равно периоду !"));
        return;
    }
    const int relayIndex = ui->output->currentIndex();
    const int relay = relayIndex == 0 ? 0 : ui->output->itemText(relayIndex).toInt();
    const int board = ui->input->itemText(ui->input->currentIndex()).toInt();
    QByteArray payload = command::setAlarmRele(ui->addr->value(), board, relay, onTime, period);
    writeToUnit(payload);
}

void MainWindow::on_reset_rele_released()
{
    if (portBusy())
        return;
    if (ui->output->currentIndex() == 0) {
        criticalMessage(QStringLiteral("Установите номер реле!"));
        return;
    }
    // The edit field's text: a number typed but not confirmed counts.
    const int relay = ui->output->currentText().toInt();
    QByteArray payload = command::switchRele(ui->addr->value(), relay);
    writeToUnit(payload);
}

// Sends a write on the primary worker with the poll paused; restarts the poll on success,
// reports a failure. Nothing more when the connection ended while the reply was awaited.
void MainWindow::writeToUnit(QByteArray &payload)
{
    const int generation = connectionGeneration;
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
}

void MainWindow::on_output_currentIndexChanged(int)
{
    ui->set_rele->setEnabled(true);
}
void MainWindow::on_a_time_valueChanged(int)
{
    ui->set_rele->setEnabled(true);
}
void MainWindow::on_a_period_valueChanged(int)
{
    ui->set_rele->setEnabled(true);
}

// "Прошивка" is never enabled; the slot only marks the window busy.
void MainWindow::on_prog_released()
{
    if (!handlerBusy)
        handlerBusy = 1;
}
