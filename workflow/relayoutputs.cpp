// The relay group: write the selected input board's alarm relay, switch a relay by hand,
// and re-enable "Установить" after an edit.

#include "commandset.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "valuerules.h"
#include "workflowtexts.h"

// The relay the field shows: 0 for "Не задано", or a relay board of the list, typed or
// picked; a typed one becomes the current item, so that the field and the list agree.
// False for anything else: a number no relay board holds ("300" would go out cut to 8 bits
// as 0x2C), or text. The buttons act on what the operator reads there, never on an item
// the field no longer shows.
bool MainWindow::shownRelay(int &relay)
{
    const QString text = ui->output->currentText().trimmed();
    int index = -1;
    relay = 0;
    if (text == workflow::noRelayText)
        index = 0;
    else if (unit::relayNumber(text, relay))
        index = ui->output->findText(QString::number(relay));
    if (index < 0)
        return false;
    ui->output->setCurrentIndex(index);
    return true;
}

void MainWindow::on_set_rele_released()
{
    // Another operation is waiting for the unit on the primary worker: the press is
    // dropped, as an input board change would be.
    if (portBusy())
        return;
    // Read first: taking a typed relay selects its item, and the change enables the button.
    // "Не задано" removes the assignment; anything else shown must name a relay board.
    int relay = 0;
    const bool relayShown = shownRelay(relay);
    ui->set_rele->setEnabled(false);
    const int onTime = ui->a_time->value();
    const int period = ui->a_period->value();
    if (!unit::onTimeAbovePeriod(onTime, period)) {
        criticalMessage(workflow::onTimeNotAbovePeriodText);
        return;
    }
    if (!relayShown) {
        criticalMessage(workflow::noRelayChosenText);
        return;
    }
    writeToUnit(
        command::setAlarmRele(ui->addr->value(), selectedInputBoard(), relay, onTime, period));
}

void MainWindow::on_reset_rele_released()
{
    if (portBusy())
        return;
    // What the field shows, a number typed but not confirmed too; "Не задано" is no relay.
    int relay = 0;
    if (!shownRelay(relay) || relay == 0) {
        criticalMessage(workflow::noRelayChosenText);
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
