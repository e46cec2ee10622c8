// Lifetimes of the two exchange workers. A connection's end ("Стоп", a failed exchange, a
// new search, the window's end) releases the port at once, so that other programs may
// open it. Every exchange processes the window's events while it waits, so that end can
// come while a status tick is still inside pollPort->exchange(): that worker object must
// stay alive until the call has returned, and the shared serial port must not be closed
// while either worker's thread may still use it.

#include "ccomport.h"
#include "exchangeresult.h"
#include "mainwindow.h"
#include "serialport.h"
#include "ui_mainwindow.h"
#include "workflowtexts.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <utility>

// Runs one exchange on `worker` and then frees the retired workers whose calls have
// returned. Returns the ExchangeResult. The caller must not use `worker` afterwards
// without checking connectionEnded(): the worker may have been retired meanwhile.
int MainWindow::exchangeOn(cComPort *worker, QByteArray &payload)
{
    const int result = worker->exchange(payload, false);
    workers.sweep();
    return result;
}

// True when the primary worker cannot take an exchange now: there is none, or an
// operation further up the stack is waiting for its reply.
bool MainWindow::portBusy() const
{
    return !port || port->isExchanging();
}

// After an exchange of an operation begun in connection `generation`: true when the
// operation must stop here. Either the connection ended while the reply was awaited
// ("Стоп", a failure elsewhere, a new search, the window's end: nothing more may be shown,
// and the workers may be gone), or the exchange failed: "Ошибка обмена !" is shown and the
// window is idle again.
bool MainWindow::mustStop(int generation, int result)
{
    if (connectionEnded(generation))
        return true;
    if (result == Ok)
        return false;
    handlerBusy = 0;
    linkFailed();
    return true;
}

// Pauses the poll, then builds the request (so it reads the window as it is after the
// pause) and sends it on the primary worker. True when `reply` holds the unit's reply;
// false when the operation must stop (see mustStop; "Стоп" may also come while the poll
// is being paused, and `port` may then be gone).
bool MainWindow::askUnit(const std::function<QByteArray()> &buildRequest, QByteArray &reply)
{
    const int generation = workers.generation();
    stopPoll();
    if (connectionEnded(generation))
        return false;
    reply = buildRequest();
    return !mustStop(generation, exchangeOn(port, reply));
}

// Number of the input board selected in `input` (0 when none is, or its text is no number).
int MainWindow::selectedInputBoard() const
{
    return ui->input->itemText(ui->input->currentIndex()).toInt();
}

// Takes both workers out of service and clears their members: the connection has ended.
// The port is closed (settings given back, claim gone) as soon as their threads have
// ended, and the next search may open it again; a worker whose exchange call is still open
// up the stack is kept, closed, until that call returns (unit::WorkerLifetimes).
void MainWindow::releaseWorkers()
{
    workers.retire(std::exchange(port, nullptr), std::exchange(pollPort, nullptr));
}

// Closing the window ends the program: the application tells every waiting event loop to
// quit, so waits end early (an exchange still waits for its thread). Operations still on
// the stack then end quietly instead of going on talking to the unit (a search would try
// its remaining speeds).
void MainWindow::watchForQuit()
{
    if (watchingQuit)
        return;
    watchingQuit = true;
    connect(qGuiApp, &QGuiApplication::lastWindowClosed, this, [this] {
        workers.nextGeneration();
        releaseWorkers();
    });
}

// Every message of the window: a critical box with a single Yes button and no default.
void MainWindow::criticalMessage(const QString &text)
{
    QMessageBox::critical(this, workflow::messageTitle, text, QMessageBox::Yes);
}
