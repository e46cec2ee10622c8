#include "mainwindow.h"

#include "portlist.h"
#include "portlistrefresh.h"
#include "statuslooks.h"
#include "ui_mainwindow.h"
#include "vertalversion.h"
#include "windowtexts.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPalette>
#include <chrono>
#include <cstdlib>

namespace {
constexpr std::chrono::milliseconds pollInterval{500};
using app::idleMask;
} // namespace

MainWindow::MainWindow(QWidget *parent, PortLister listPorts)
    : QMainWindow(parent), ui(new Ui::MainWindow), unitAddress(0), boardTypes{}, tamperSeen(0)
{
    ui->setupUi(this);
    QCoreApplication::setApplicationName(app::messageTitle);
    setWindowTitle(tr("ВЕРТАЛ-КП Визард v.%1").arg(QStringLiteral(VERTAL_VERSION)));
    showStatus(LookIdle);
    connect(&pollTimer, &QTimer::timeout, this, &MainWindow::_time_out);
    port = nullptr;
    pollPort = nullptr;
    fillPortList(listPorts ? listPorts : PortLister(listSerialPorts));
    enableControls(idleMask);
    tamperSeen = 0;
}

MainWindow::~MainWindow()
{
    stopPoll();
    // Both workers: the sharing one too, so that nothing is left behind.
    releaseWorkers();
    workers.sweep();
    delete ui;
}

// Offers the listed ports, first one current. Without any port the program cannot do
// anything: it says so and ends before the window is ever shown.
void MainWindow::fillPortList(const PortLister &listPorts)
{
    portList = new PortListRefresh(ui->com_port, listPorts, describePorts);
    portList->refresh();
    if (ui->com_port->count() > 0)
        return;
    QMessageBox::critical(this, app::messageTitle, app::noPortText, QMessageBox::Yes);
    std::exit(0);
}

void MainWindow::enableControls(int mask)
{
    auto bit = [mask](int n) { return (mask & (1 << n)) != 0; };
    ui->addr->setEnabled(bit(0));
    ui->com_port->setEnabled(bit(1));
    ui->prog->setEnabled(bit(2));
    ui->current_value->setEnabled(bit(6));
    ui->a_time->setEnabled(bit(7));
    ui->a_period->setEnabled(bit(8));
    ui->input->setEnabled(bit(11));
    ui->output->setEditable(bit(10)); // with a relay board the relay number can be typed
    ui->start->setEnabled(bit(12));
    ui->output->setEnabled(bit(11));
    ui->reset_rele->setEnabled(bit(10));
}

// A tick that was already due may still be delivered while events are processed; a handler
// run in there may also restart the timer, hence the loop.
void MainWindow::stopPoll()
{
    while (pollTimer.isActive()) {
        pollTimer.stop();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// An active timer keeps its running period: a tick is not postponed by every exchange. A
// handler run in there may stop the poll again: it is started again, unless that handler
// ended the connection ("Стоп", a failed exchange), whose poll must not run on in the idle
// window.
void MainWindow::startPoll()
{
    const int generation = workers.generation();
    while (!pollTimer.isActive() && !connectionEnded(generation)) {
        pollTimer.start(pollInterval);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void MainWindow::showStatus(int look)
{
    if (look < 0 || look >= statusLookCount)
        return;
    const StatusLook &entry = statusTable[look];
    ui->state->setText(QCoreApplication::translate("MainWindow", entry.text));
    QPalette palette = ui->state->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(entry.background, Qt::SolidPattern));
    palette.setBrush(QPalette::All, QPalette::WindowText,
                     QBrush(entry.textColour, Qt::SolidPattern));
    ui->state->setPalette(palette);
    announceStatus(QCoreApplication::translate("MainWindow", entry.spoken));
}

// The colour says nothing to a screen reader: the look's word goes into the field's
// description, whose change the toolkit announces (once per change of look, not per tick).
void MainWindow::announceStatus(const QString &spoken)
{
    if (ui->state->accessibleDescription() != spoken)
        ui->state->setAccessibleDescription(spoken);
}
