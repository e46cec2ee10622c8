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

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <chrono>
#include <utility>

namespace {
using namespace std::chrono_literals;
// A stopped worker's thread ends within one 15 ms poll, or once its frame has left.
constexpr auto stoppingThreadWait = 80ms;
constexpr auto retiredSweepInterval = 15ms;
} // namespace

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

// Takes both workers out of service and clears their members: the connection has ended.
// Their threads are told to stop; an exchange in flight ends within one poll and sends
// nothing more, so the wait for them stays short. Then the port is closed (settings given
// back, claim gone) and the next search may open it again. A worker whose exchange call
// is still open up the stack is kept, closed, until that call returns.
void MainWindow::releaseWorkers()
{
    cComPort *owner = std::exchange(port, nullptr);
    cComPort *sharer = std::exchange(pollPort, nullptr);
    if (!owner && !sharer)
        return;
    for (cComPort *worker : {owner, sharer}) {
        if (worker)
            worker->stopExchanges();
    }
    // Bounded: a write stuck on a line that does not drain leaves the port to the sweep.
    for (cComPort *worker : {sharer, owner}) {
        if (worker)
            worker->wait(QDeadlineTimer(stoppingThreadWait));
    }
    retiredWorkers << RetiredWorkers{owner, sharer};
    releaseRetiredWorkers();
}

// Closes the port of every retired pair whose threads have ended, and deletes the pairs
// that no exchange call still uses (the sharer first: it uses the owner's port).
void MainWindow::releaseRetiredWorkers()
{
    auto running = [](const cComPort *w) { return w && w->isRunning(); };
    auto exchanging = [](const cComPort *w) { return w && w->isExchanging(); };
    for (qsizetype i = retiredWorkers.size() - 1; i >= 0; --i) {
        const RetiredWorkers retired = retiredWorkers.at(i);
        if (running(retired.owner) || running(retired.sharer))
            continue;
        if (retired.owner && retired.owner->serialPort())
            retired.owner->serialPort()->close();
        if (exchanging(retired.owner) || exchanging(retired.sharer))
            continue;
        retiredWorkers.removeAt(i);
        delete retired.sharer;
        delete retired.owner;
    }
    if (retiredWorkers.isEmpty())
        retiredSweep.stop();
    else if (!retiredSweep.isActive())
        retiredSweep.start(retiredSweepInterval);
}

// True while the primary worker of an ended connection is still inside an exchange call
// further up the stack: a search begun under it would nest inside that operation's wait.
bool MainWindow::retiredPrimaryExchanging() const
{
    for (const RetiredWorkers &retired : retiredWorkers) {
        if (retired.owner && retired.owner->isExchanging())
            return true;
    }
    return false;
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
        ++connectionGeneration;
        releaseWorkers();
    });
}

// Every message of the window: a critical box with a single Yes button and no default.
void MainWindow::criticalMessage(const QString &text)
{
    QMessageBox::critical(this, workflow::messageTitle, text, QMessageBox::Yes);
}
