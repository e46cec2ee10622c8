// The two ways a connection ends on screen: the operator's "Стоп" (or a search that found
// nothing to set up) and a failed exchange. Either ends the connection: the workers are
// released and the port with them, for other programs to use; the next search opens it
// again.

#include "mainwindow.h"
#include "statuslooks.h"
#include "ui_mainwindow.h"
#include "workflowtexts.h"

// Returns the window to its idle picture: "Старт", only port, address and Start usable,
// no boards listed, idle status, no version, "Установить" disabled, poll stopped.
void MainWindow::resetToIdle()
{
    workers.nextGeneration();
    releaseWorkers();
    handlerBusy = 1;
    stopPoll();
    ui->start->setText(workflow::startText);
    enableControls(workflow::idleMask);
    ui->input->clear();
    ui->output->clear();
    ui->output->addItem(workflow::noRelayText);
    showStatus(LookIdle);
    ui->version->setText(QString());
    // Refilling `output` enabled it through its change slot.
    ui->set_rele->setEnabled(false);
    handlerBusy = 0;
}

// Reports a failed exchange and returns the window to idle. An operation whose wait was
// interrupted by this (it sits further down the stack) finds the connection ended when it
// resumes, and leaves the window alone.
void MainWindow::linkFailed()
{
    // The line is of no more use: an unplugged device must not stay open behind the box.
    releaseWorkers();
    stopPoll();
    criticalMessage(workflow::exchangeFailedText);
    resetToIdle();
}
