// Lifetimes of the two exchange workers. Every exchange processes the window's events
// while it waits, so a search (which replaces the workers) or the window's end can come
// while a status tick is still inside pollPort->exchange(): that worker object must stay
// alive until the call has returned, and the owning worker must not close the shared
// serial port while the sharing worker's thread may still use it.

#include "ccomport.h"
#include "exchangeresult.h"
#include "mainwindow.h"
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
    releaseRetiredWorkers();
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
    const int generation = connectionGeneration;
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

// Takes both workers out of service and clears their members. The sharing worker's
// thread is waited for first (it may have started without yet taking the link, which the
// owner's destructor would not see); then the owner closes the port. A worker whose
// exchange call is still open up the stack is kept until that call returns.
void MainWindow::releaseWorkers()
{
    cComPort *owner = std::exchange(port, nullptr);
    cComPort *sharer = std::exchange(pollPort, nullptr);
    for (cComPort *worker : {sharer, owner}) {
        if (worker)
            worker->wait();
    }
    for (cComPort *worker : {owner, sharer}) {
        if (!worker)
            continue;
        if (worker->isExchanging())
            retiredWorkers << worker;
        else
            delete worker;
    }
}

void MainWindow::releaseRetiredWorkers()
{
    for (qsizetype i = retiredWorkers.size() - 1; i >= 0; --i) {
        cComPort *worker = retiredWorkers.at(i);
        if (worker->isExchanging())
            continue;
        retiredWorkers.removeAt(i);
        delete worker;
    }
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
    connect(qGuiApp, &QGuiApplication::lastWindowClosed, this, [this] { ++connectionGeneration; });
}

// Every message of the window: a critical box with a single Yes button and no default.
void MainWindow::criticalMessage(const QString &text)
{
    QMessageBox::critical(this, workflow::messageTitle(), text, QMessageBox::Yes);
}
