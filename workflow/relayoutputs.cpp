// The relay group: write the selected input board's alarm relay, switch a relay by hand,
// and re-enable "Установить" after an edit.

#include "commandset.h"
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
    writeToUnit(
        command::setAlarmRele(ui->addr->value(), selectedInputBoard(), relay, onTime, period));
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
    writeToUnit(command::switchRele(ui->addr->value(), relay));
}

// Sends a write with the poll paused and restarts the poll once the unit has taken it.
// The reply is not read: an answer is the unit's acceptance.
void MainWindow::writeToUnit(const QByteArray &request)
{
    QByteArray reply;
    if (askUnit([&request] { return request; }, reply))
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
