#pragma once

#include "linename.h"
#include "mainwindow.h"
#include "modalwatcher.h"
#include "simunit.h"
#include "unitserver.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>
#include <list>
#include <memory>

class QAbstractButton;

// A "connected window" bench for workflow tests: a simulated unit served on a real
// pseudo-terminal, a MainWindow whose only port is that terminal, and a ModalWatcher that
// answers the message boxes. The window is shown (offscreen) and driven through its
// widgets, found by object name.
class UnitBench : public QObject
{
    Q_OBJECT
public:
    // A unit at address 1 and 4800 baud with input boards at 1 and 3 and a relay board at
    // 2 (map 0x19), firmware 1.5.
    static UnitState defaultUnit();

    // `linkPath`, when given, is a fixed name for the line (a symbolic link to the
    // pseudo-terminal), so that a fresh line after an unplug is found under the same name;
    // the window offers only the line. `neighbours` are further units on the same line
    // (a multi-drop line), each at its own address.
    explicit UnitBench(const UnitState &unitState = defaultUnit(),
                       const QString &linkPath = QString(),
                       const QList<UnitState> &neighbours = {});
    ~UnitBench() override;

    // False when the pseudo-terminal could not be set up (see errorString()).
    bool isReady() const { return ready; }
    QString errorString() const { return server.errorString(); }

    template <class T> T *control(const char *objectName) const
    {
        return window->findChild<T *>(QLatin1String(objectName));
    }
    // Clicks a button of the window with the mouse (nothing happens if it is disabled or
    // a modal box blocks the window). Returns when the button's handler has returned.
    void click(const char *buttonName);
    QString startText() const;
    QString stateText() const;
    // The item texts of a combo box of the window.
    QStringList items(const char *comboName) const;

    // Checks that the line is up (a failed check of the test otherwise), sets the address
    // spin box, presses "Старт" and returns true when the window is connected: "Стоп" on
    // the button and the poll running.
    bool connectUnit(int address = 1);

    // Processes events until `condition` holds or `timeoutMs` passes.
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);
    // Runs `action` once, as soon as `condition` holds, from a 1 ms timer: it fires inside
    // the nested waits of the window's operations, like an operator's click would.
    void when(std::function<bool()> condition, std::function<void()> action);
    // True while an exchange is in flight on the primary / polling worker.
    bool portExchanging() const;
    bool pollExchanging() const;

    // Payloads of the well-formed requests the unit received, in order of arrival.
    QList<QByteArray> requests() const;
    QList<QByteArray> requestsFor(quint8 command) const;
    void clearRequests() { server.clearReceivedFrames(); }
    // Waits until a request with `command` has arrived (after the last clearRequests()).
    bool waitForRequest(quint8 command, int timeoutMs = 5000);

    // `fault` is played (once) on the first request with `command`: one step of an
    // operation fails while the steps before it succeed, however often they were asked.
    void faultOn(quint8 command, FaultKind fault);

    // Waits for the next status tick to be answered and painted.
    bool waitForTicks(int count, int timeoutMs = 5000);

    SimUnit unit;
    std::list<SimUnit> neighbours; // outlive the server, which serves them too
    UnitServer server;
    ModalWatcher watcher;
    std::unique_ptr<MainWindow> window;

private:
    struct Pending
    {
        std::function<bool()> condition;
        std::function<void()> action;
    };
    void runPending();

    bool ready = false;
    QTimer pendingTimer;
    QList<Pending> pending;
};
