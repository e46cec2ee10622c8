// One tick of the status poll: the selected input board's status on the `state` field,
// and a re-read of the unit once its case has been closed again.

#include "boardstatus.h"
#include "ccomport.h"
#include "commandcodes.h"
#include "commandset.h"
#include "exchangeresult.h"
#include "mainwindow.h"
#include "statuslooks.h"
#include "ui_mainwindow.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>

namespace {

// The unit needs this long after its case is closed before it reports its boards anew.
constexpr std::chrono::milliseconds settleTime{800};

} // namespace

void MainWindow::_time_out()
{
    // A handler that ran inside a tick's wait may have restarted the timer: the tick it
    // starts must not give the waiting worker a second exchange or run a second reload.
    if (!pollPort || pollPort->isExchanging() || settling)
        return;
    const int generation = workers.generation();
    const int board = selectedInputBoard();
    QByteArray payload = command::readStatus(ui->addr->value(), board);
    const int result = exchangeOn(pollPort, payload);
    if (connectionEnded(generation))
        return; // "Стоп", a failure or a new search came while the reply was awaited
    if (result != Ok) {
        linkFailed();
        return;
    }
    const int status = command::statusByte(payload, board);
    if (status & StatusTamper) {
        tamperSeen = 1;
    } else if (tamperSeen) {
        settleAndReload(generation);
        return;
    }
    showStatus(lookFor(unit::boardStatus(status)));
}

// Waits for the unit to settle, processing events, then re-reads it. A connection that
// ended during the wait stays ended; tamperSeen then stays set, so the first tick of the
// next connection re-reads the unit.
void MainWindow::settleAndReload(int generation)
{
    settling = true;
    QEventLoop loop;
    QTimer::singleShot(settleTime, &loop, &QEventLoop::quit);
    loop.exec();
    settling = false;
    if (connectionEnded(generation) || portBusy())
        return;
    tamperSeen = 0;
    reloadUnit();
}
