// "Старт": find the unit on the chosen port across six line speeds, learn its address and
// boards, show its version and the first input board's alarm relay, and start the status
// poll. "Стоп": back to idle. The sequence itself is the unit's (unit::findUnit); the
// window shows each step as it goes through, with the progress dialog and its cancel.

#include "unitsearch.h"
#include "boardlist.h"
#include "ccomport.h"
#include "commandcodes.h"
#include "frametrace.h"
#include "mainwindow.h"
#include "networkline.h"
#include "networkportname.h"
#include "portopenfailure.h"
#include "serialport.h"
#include "ui_mainwindow.h"
#include "vertalversion.h"
#include "workflowtexts.h"

#include <QProgressDialog>
#include <algorithm>
#include <iterator>

namespace {
constexpr int progressMaximum = 7;
} // namespace

void MainWindow::on_start_released()
{
    if (ui->start->text() == workflow::stopText) {
        resetToIdle();
        return;
    }
    // An operation of the ended connection (a search, a write) has not yet returned from
    // its exchange on the old primary worker further up the stack: a new search would run
    // nested inside it.
    if (workers.retiredOwnerExchanging())
        return;
    searchUnit();
}

void MainWindow::searchUnit()
{
    watchForQuit();
    handlerBusy = 1;
    const int generation = workers.nextGeneration();
    const QString portName = ui->com_port->currentText();
    releaseWorkers();
    QProgressDialog progress(workflow::searchingText, workflow::stopText, 0, progressMaximum, this);
    progress.setWindowTitle(workflow::messageTitle);
    progress.setAutoClose(false);
    progress.setWindowModality(Qt::WindowModal);
    // Reaching a serial server takes seconds (its name, the connection, the server's
    // answers): the dialog and its "Стоп" stand over that too, and "Стоп" ends it at once.
    const bool networkLine = parseNetworkPortName(portName).isNetwork();
    if (networkLine) {
        connect(&progress, &QProgressDialog::canceled, &progress,
                [] { NetworkLine::abortAttempts(); });
        progress.show();
    }
    port = new cComPort(portName);
    // A port that cannot be opened ends the search here: no unit could have answered, so
    // "Блок не обнаружен!" would only mislead. An attempt the operator ended needs no box.
    cComPort *const searching = port;
    if (port->openFailed()) {
        progress.hide();
        const SerialPort::Error why = port->serialPort()->error();
        if (why != SerialPort::Cancelled && !connectionEnded(generation))
            showPortOpenFailure(portOpenAdvice(why, port->devicePath(), port->openError()));
        dropSearchWorker(searching);
        return;
    }
    if (progress.wasCanceled() || connectionEnded(generation)) {
        dropSearchWorker(searching);
        return;
    }
    progress.show();

    unitAddress = ui->addr->value();
    addressAsked = unitAddress == 0;
    unit::SearchPlan plan;
    plan.address = unitAddress;
    plan.askAddress = addressAsked;
    plan.speeds = unit::searchOrder(firstSpeed);
    plan.readAssignment = true;
    unit::SearchHooks hooks = connectionHooks(generation);
    hooks.beforeTry = [&](int index, int speed, int) {
        return nextSearchSpeed(progress, generation, index, speed);
    };
    // Unplugged: no other speed can be heard on a line that is gone.
    hooks.lineGone = [searching] { return searching->serialPort()->isGone(); };
    hooks.afterStep = [&](unit::FoundUnit &found) { return showSearchStep(found, progress); };
    const unit::FoundUnit found = unit::findUnit(*searching, plan, hooks);
    progress.hide();
    progress.close();
    endSearch(found, searching);
}

// Before each speed: a cancel (or the window's end) is noticed here; the dialog counts the
// speeds tried and the trace says where the next frames go.
bool MainWindow::nextSearchSpeed(QProgressDialog &progress, int generation, int index, int speed)
{
    if (progress.wasCanceled() || connectionEnded(generation))
        return false;
    progress.setValue(index);
    // A modal dialog's progress processes events: the connection may have ended there.
    if (connectionEnded(generation))
        return false;
    lineSpeed = speed;
    traceConnection();
    return true;
}

// Shows a step of the search that went through; false ends the search (a unit without any
// board to set up).
bool MainWindow::showSearchStep(unit::FoundUnit &found, QProgressDialog &progress)
{
    switch (found.step) {
    case unit::SearchStep::Boards: {
        progress.hide();
        progress.close();
        ui->start->setText(workflow::stopText);
        const int mask = listBoards(found.boardMap);
        if (mask == 0)
            return false;
        interfaceMask = mask;
        return true;
    }
    case unit::SearchStep::Address:
        unitAddress = found.address;
        ui->addr->setValue(unitAddress);
        traceConnection(); // from here on the requests go to the address learnt
        return true;
    case unit::SearchStep::Version:
        showVersion(found.versionMajor, found.versionMinor);
        // Relay boards only: nothing to show, the enable state stays.
        found.assignmentBoard = 0;
        if (ui->input->count() > 0) {
            ui->input->setCurrentIndex(0);
            found.assignmentBoard = ui->input->itemText(0).toInt();
        }
        return true;
    case unit::SearchStep::Assignment:
        showInputBoardState(found.assignmentBoard, found.assignment);
        enableControls(interfaceMask);
        // Showing the assignment went through the change slots, which enable it.
        ui->set_rele->setEnabled(false);
        return true;
    }
    return true;
}

// What the window does with the search's end: the poll on a unit found, a message (and
// idle again) on one that was not.
void MainWindow::endSearch(const unit::FoundUnit &found, cComPort *searching)
{
    switch (found.outcome) {
    case unit::SearchOutcome::Found:
        pollPort = new cComPort(port->serialPort());
        startPoll();
        handlerBusy = 0;
        return;
    case unit::SearchOutcome::LineGone:
        // The adapter went away under the search: saying that no unit answered would send
        // the operator looking at the unit.
        showPortOpenFailure(portOpenAdvice(SerialPort::Gone, searching->devicePath(),
                                           searching->serialPort()->lastErrorString()));
        dropSearchWorker(searching);
        return;
    case unit::SearchOutcome::NotFound:
        criticalMessage(workflow::noUnitText);
        dropSearchWorker(searching);
        return;
    case unit::SearchOutcome::Stopped: // no board to set up
        dropSearchWorker(searching);
        criticalMessage(workflow::noBoardsText);
        resetToIdle();
        return;
    case unit::SearchOutcome::StepFailed:
        handlerBusy = 0;
        linkFailed();
        return;
    case unit::SearchOutcome::Canceled:
    case unit::SearchOutcome::Ended:
        dropSearchWorker(searching);
        return;
    }
}

// The exchange and the end of connection `generation` for the unit's sequences: each
// request sent once on the primary worker.
unit::SearchHooks MainWindow::connectionHooks(int generation)
{
    unit::SearchHooks hooks;
    hooks.exchange = [this](QByteArray &payload) {
        unit::Heard heard;
        heard.result = exchangeOn(port, payload);
        heard.exchanges = 1;
        return heard;
    };
    hooks.ended = [this, generation] { return connectionEnded(generation); };
    return hooks;
}

// Stores the board kinds of the map in boardTypes and appends the input boards to `input`
// and the relay boards to `output` (text: the position; data: the position less 1).
// Returns the control mask they allow, 0 when the unit has neither kind of board.
int MainWindow::listBoards(int boardMap)
{
    shownInputBoard = 0; // the lists are being refilled: no board's relay is shown yet
    const unit::BoardLists boards = unit::boardLists(boardMap);
    std::copy(std::begin(boards.kinds), std::end(boards.kinds), std::begin(boardTypes));
    for (int position = 1; position <= boardPositions; ++position) {
        if (boards.input.contains(position))
            ui->input->addItem(QString::number(position), position - 1);
        else if (boards.relay.contains(position))
            ui->output->addItem(QString::number(position), position - 1);
    }
    return boards.mask();
}

void MainWindow::showVersion(int major, int minor)
{
    ui->version->setText(workflow::versionText.arg(major).arg(minor));
}

// A header line in the frame trace (when one is kept): what the frames after it were sent
// to.
void MainWindow::traceConnection()
{
    if (FrameTrace *trace = FrameTrace::installed())
        trace->connection(QStringLiteral("vertal-wizard " VERTAL_VERSION), port->devicePath(),
                          lineSpeed, unitAddress);
}

// Ends a search that connected nothing. Every wait of the search processes events, so a
// connection made meanwhile (a later search, nested in this one's wait) may already stand
// in `port`: that one is not this search's to end. A worker taken out of service that way
// is among the retired ones and goes with them.
void MainWindow::dropSearchWorker(cComPort *searching)
{
    if (port != searching)
        return;
    delete port;
    port = nullptr;
}
