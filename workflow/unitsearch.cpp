// "Старт": find the unit on the chosen port across six line speeds, learn its address and
// boards, show its version and the first input board's alarm relay, and start the status
// poll. "Стоп": back to idle.

#include "ccomport.h"
#include "commandcodes.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "frametrace.h"
#include "linespeeds.h"
#include "mainwindow.h"
#include "portopenfailure.h"
#include "serialport.h"
#include "ui_mainwindow.h"
#include "vertalversion.h"
#include "workflowtexts.h"

#include <QProgressDialog>
#include <array>

namespace {

constexpr int progressMaximum = 7;

// The unit's line speeds in the order the search tries them: `first` (when it is one of
// them) and then the others in their usual order.
std::array<int, unitLineSpeeds.size()> searchOrder(int first)
{
    std::array<int, unitLineSpeeds.size()> order{};
    std::size_t next = 0;
    if (isUnitLineSpeed(first))
        order[next++] = first;
    for (const int speed : unitLineSpeeds) {
        if (speed != first)
            order[next++] = speed;
    }
    return order;
}

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
    if (retiredPrimaryExchanging())
        return;
    searchUnit();
}

void MainWindow::searchUnit()
{
    watchForQuit();
    handlerBusy = 1;
    const int generation = ++connectionGeneration;
    const QString portName = ui->com_port->currentText();
    releaseWorkers();
    port = new cComPort(portName);
    // A port that cannot be opened ends the search here: no unit could have answered, so
    // "Блок не обнаружен!" would only mislead.
    cComPort *const searching = port;
    if (port->openFailed()) {
        showPortOpenFailure(
            portOpenAdvice(port->serialPort()->error(), port->devicePath(), port->openError()));
        dropSearchWorker(searching);
        return;
    }

    QProgressDialog progress(QStringLiteral("Поиск блока..."), workflow::stopText, 0,
                             progressMaximum, this);
    progress.setWindowTitle(workflow::messageTitle);
    progress.setAutoClose(false);
    progress.setWindowModality(Qt::WindowModal);
    progress.show();

    unitAddress = ui->addr->value();
    addressAsked = unitAddress == 0;
    QByteArray reply;
    const SpeedScan scan = scanLineSpeeds(progress, reply, generation);
    if (scan == SpeedScan::Canceled) {
        dropSearchWorker(searching);
        return;
    }
    progress.hide();
    progress.close();
    if (connectionEnded(generation))
        return;
    if (scan == SpeedScan::PortGone) {
        // The adapter went away under the search: saying that no unit answered would send
        // the operator looking at the unit.
        showPortOpenFailure(portOpenAdvice(SerialPort::Gone, searching->devicePath(),
                                           searching->serialPort()->lastErrorString()));
        dropSearchWorker(searching);
        return;
    }
    if (scan == SpeedScan::NotFound) {
        criticalMessage(QStringLiteral("Блок не обнаружен!"));
        dropSearchWorker(searching);
        return;
    }

    ui->start->setText(workflow::stopText);
    const int mask = listBoards(command::boardMap(reply));
    if (mask == 0) {
        dropSearchWorker(searching);
        criticalMessage(QStringLiteral("Нет плат для настройки! Выход..."));
        resetToIdle();
        return;
    }
    interfaceMask = mask;
    if (!finishSearch(generation))
        return;
    pollPort = new cComPort(port->serialPort());
    startPoll();
    handlerBusy = 0;
}

// Asks for the board map at each line speed in turn; the first answer fixes the speed and
// leaves the reply in `reply`. A cancel (or the window's end) is noticed before each try;
// a port whose device went away ends the scan at once.
MainWindow::SpeedScan MainWindow::scanLineSpeeds(QProgressDialog &progress, QByteArray &reply,
                                                 int generation)
{
    const auto baudRates = searchOrder(firstSpeed);
    for (std::size_t i = 0; i < baudRates.size(); ++i) {
        reply = command::readBoards(unitAddress);
        if (progress.wasCanceled() || connectionEnded(generation))
            return SpeedScan::Canceled;
        progress.setValue(int(i));
        port->setBaudRate(baudRates[i]);
        lineSpeed = baudRates[i];
        traceConnection();
        if (exchangeOn(port, reply) == Ok)
            return SpeedScan::Found;
        // Unplugged: no other speed can be heard on a line that is gone.
        if (!connectionEnded(generation) && port->serialPort()->isGone())
            return SpeedScan::PortGone;
    }
    return SpeedScan::NotFound;
}

// Stores the board kinds of the map in boardTypes and appends the input boards to `input`
// and the relay boards to `output` (text: the position; data: the position less 1).
// Returns the control mask they allow, 0 when the unit has neither kind of board.
int MainWindow::listBoards(int boardMap)
{
    int mask = 0;
    shownInputBoard = 0; // the lists are being refilled: no board's relay is shown yet
    for (int position = 1; position <= boardPositions; ++position) {
        const int kind = command::boardKind(boardMap, position);
        boardTypes[position] = kind;
        if (kind == InputBoard) {
            ui->input->addItem(QString::number(position), position - 1);
            mask |= workflow::inputBoardMask;
        } else if (kind == RelayBoard) {
            ui->output->addItem(QString::number(position), position - 1);
            mask |= workflow::relayBoardMask;
        }
    }
    return mask;
}

// Address (when 0 was given), version and the first input board's alarm relay. Returns
// true when the search should go on to start the poll; false when it failed (the window
// is idle again) or the connection ended while an exchange was waiting (then nothing
// more may be shown on the window).
bool MainWindow::finishSearch(int generation)
{
    QByteArray payload;
    if (addressAsked) {
        payload = command::readAddress();
        if (mustStop(generation, exchangeOn(port, payload)))
            return false;
        unitAddress = command::unitAddress(payload);
        ui->addr->setValue(unitAddress);
        traceConnection(); // from here on the requests go to the address learnt
    }

    payload = command::readVersion(unitAddress);
    if (mustStop(generation, exchangeOn(port, payload)))
        return false;
    showVersion(payload);

    if (ui->input->count() == 0)
        return true; // relay boards only: nothing to show, the enable state stays
    ui->input->setCurrentIndex(0);
    const int board = ui->input->itemText(0).toInt();
    payload = command::readAlarmRele(unitAddress, board);
    if (mustStop(generation, exchangeOn(port, payload)))
        return false;
    showInputBoardState(board, payload);
    enableControls(interfaceMask);
    // Showing the assignment went through the change slots, which enable it.
    ui->set_rele->setEnabled(false);
    return true;
}

void MainWindow::showVersion(const QByteArray &reply)
{
    ui->version->setText(QStringLiteral("Версия прошивки : %1.%2")
                             .arg(command::versionMajor(reply))
                             .arg(command::versionMinor(reply)));
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
