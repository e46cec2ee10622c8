#pragma once

#include "workerlifetimes.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <functional>

class cComPort;
struct StartOptions;
namespace unit {
struct FoundUnit;
struct SearchHooks;
} // namespace unit
class PortListRefresh;
class QProgressDialog;
namespace Ui {
class MainWindow;
}

// Process-wide state shared by the window's operations (GUI thread only).
// handlerBusy: set while an operation refills combo boxes or talks to the unit, so the
// input board handler leaves the changes it causes alone.
// interfaceMask: the control mask computed from the boards the unit reported.
extern int handlerBusy;
extern int interfaceMask;

// The main window: port and address, the unit's boards, the input board's status and the
// relay it switches on alarm. It owns the two exchange workers: `port` (opens the serial
// port, carries every operation) and `pollPort` (shares that port, carries the status poll).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Lists the serial ports the window offers; the default asks the system (see portlist.h).
    using PortLister = std::function<QStringList()>;

    explicit MainWindow(QWidget *parent = nullptr, PortLister listPorts = {});
    ~MainWindow() override;

    // Takes what the command line asked for: the port chosen (and listed), the address,
    // the line speed the search tries first, the trace file.
    void applyStartOptions(const StartOptions &options);

    // Applies a control mask: each bit enables (or, bit 10, makes editable) a control group.
    void enableControls(int mask);
    // Pause and resume the 500 ms status poll; each processes events once when it acts.
    void stopPoll();
    void startPoll();
    // Paints the `state` label with entry `look` (0..3) of statusTable.
    void showStatus(int look);

    // For tests and the soak: what the window holds right now.
    bool isPolling() const { return pollTimer.isActive(); }
    int pollRemainingMs() const { return pollTimer.remainingTime(); }
    cComPort *primaryWorker() const { return port; }
    cComPort *pollWorker() const { return pollPort; }
    int currentUnitAddress() const { return unitAddress; }

private slots:
    void on_input_currentIndexChanged(int index);
    void on_type_currentIndexChanged(int type);
    void on_set_rele_released();
    void on_start_released();
    void on_prog_released();
    void on_current_value_released();
    void _time_out();
    void on_output_currentIndexChanged(int index);
    void on_a_time_valueChanged(int value);
    void on_a_period_valueChanged(int value);
    void on_reset_rele_released();

private:
    void fillPortList(const PortLister &listPorts);
    void searchUnit();
    void resetToIdle();
    void linkFailed();
    void showInputBoardState(int board, const QByteArray &reply);
    void reloadUnit();

    // Connection bookkeeping of the workflow (workflow/connectionworkers.cpp).
    // Every exchange processes events while it waits, so operations nest: these keep a
    // worker from being destroyed or given a second exchange while a call on it is open.
    int exchangeOn(cComPort *worker, QByteArray &payload);
    bool portBusy() const;
    bool connectionEnded(int generation) const { return workers.ended(generation); }
    void releaseWorkers();
    void watchForQuit();
    // The unit's search and re-read, shown step by step (workflow/unitsearch.cpp,
    // workflow/unitreload.cpp).
    unit::SearchHooks connectionHooks(int generation);
    bool nextSearchSpeed(QProgressDialog &progress, int generation, int index, int speed);
    bool showSearchStep(unit::FoundUnit &found, QProgressDialog &progress);
    void endSearch(const unit::FoundUnit &found, cComPort *searching);
    bool showReloadStep(unit::FoundUnit &found, int generation, int &mask);
    int listBoards(int boardMap);
    void dropSearchWorker(cComPort *searching);
    void settleAndReload(int generation);
    void showVersion(int major, int minor);
    void announceStatus(const QString &spoken);
    void traceConnection();
    bool mustStop(int generation, int result);
    bool askUnit(const std::function<QByteArray()> &buildRequest, QByteArray &reply);
    int selectedInputBoard() const;
    void keepInputBoardShown();
    bool shownRelay(int &relay);
    void writeToUnit(const QByteArray &request);
    void criticalMessage(const QString &text);

    Ui::MainWindow *ui;
    int unitAddress;
    int boardTypes[5]; // indexed by board position 1..4; entry 0 unused
    QTimer pollTimer;
    int tamperSeen;
    cComPort *port;
    cComPort *pollPort;

    // The connection's generation, bumped whenever a connection ends (resetToIdle,
    // linkFailed) or a search begins, and the workers of ended connections.
    unit::WorkerLifetimes workers;
    // The input board whose alarm relay the relay group shows; 0 while none is shown.
    int shownInputBoard = 0;
    bool settling = false;     // a tick is in its settle wait before re-reading the unit
    bool watchingQuit = false; // the connection ends when the program's last window closes
    PortListRefresh *portList = nullptr; // keeps `com_port` current; owned by the combo
    bool addressAsked = false; // address 0 given: the search asked the unit for its address
    int lineSpeed = 0;         // the speed set on the line by the search
    int firstSpeed = 0;        // line speed the search tries first (0: the usual order)
};
