// The relay group: write the selected input board's alarm relay, switch a relay by hand,
// and re-enable "Установить" after an edit.

#include "commandcodes.h"
#include "commandset.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

namespace {

// The relay number in `text` when it is one the unit can take (a board position 1..4).
// The relay box is editable: anything else typed there must never reach the unit, where
// it would go out cut to 8 bits ("300" as 0x2C).
bool relayNumber(const QString &text, int &relay)
{
    bool ok = false;
    relay = text.trimmed().toInt(&ok);
    return ok && relay >= 1 && relay <= boardPositions;
}

} // namespace

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
    // "Не задано" (item 0) removes the assignment; any other item must name a relay.
    const int relayIndex = ui->output->currentIndex();
    int relay = 0;
    if (relayIndex != 0 && !relayNumber(ui->output->itemText(relayIndex), relay)) {
        criticalMessage(QStringLiteral("Установите номер реле!"));
        return;
    }
    writeToUnit(
        command::setAlarmRele(ui->addr->value(), selectedInputBoard(), relay, onTime, period));
}

void MainWindow::on_reset_rele_released()
{
    if (portBusy())
        return;
    // The edit field's text: a number typed but not confirmed counts.
    int relay = 0;
    if (ui->output->currentIndex() == 0 || !relayNumber(ui->output->currentText(), relay)) {
        criticalMessage(QStringLiteral("Установите номер реле!"));
        return;
    }
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
