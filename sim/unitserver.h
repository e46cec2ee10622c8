#pragma once

#include "fault.h"
#include "lineoutput.h"
#include "ptyline.h"
#include "receivedframe.h"
#include "requestassembler.h"

#include <QList>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

class SimUnit;

// Serves a SimUnit on a pseudo-terminal, on a thread of its own; with addUnit(), several
// units on one multi-drop line, each answering its own address. A request that more than
// one of them answers (address 0) gets all their replies at once: they collide on the line
// (collideFrames()).
//
// It reads request frames from the master side, and answers a frame only when it is well
// formed, its check byte is right, the line speed the wizard set on the slave equals the
// unit's own and the unit answers the payload (its address or 0). Injected faults change
// or withhold the answer. Every frame that arrives is logged.
//
// The wizard may open, close and reopen the slave at will (and claim it):
// the server never opens the slave itself. While no slave is open the master reports a
// hang-up; the server then looks at the line again every `idleLineNap` instead of
// spinning on it.
//
// Threads: every public member may be called from any thread, except that start(), stop()
// and addUnit() belong to the owner. The SimUnits must outlive the server.
class UnitServer
{
public:
    static constexpr std::chrono::milliseconds idleLineNap{20};

    explicit UnitServer(SimUnit &unit);
    UnitServer(const UnitServer &) = delete;
    UnitServer &operator=(const UnitServer &) = delete;
    // Stops serving, closes the line and removes the link.
    ~UnitServer();

    // Opens a pseudo-terminal, points `linkPath` (if given) at its slave, and starts
    // serving. False with errorString() set when the line or the link cannot be made.
    bool start(const QString &linkPath = QString());
    // Puts one more unit on the line; before start() only.
    void addUnit(SimUnit &another);
    void stop();

    QString devicePath() const; // the slave's path; empty while unplugged
    QString linkPath() const;
    QString errorString() const;

    // Replaces the fault to play (FaultKind::None clears it).
    void injectFault(const Fault &fault);
    void clearFault() { injectFault(Fault()); }
    Fault fault() const;

    // Hangs up the line now: the slave side sees a hang-up, the link is removed.
    void unplug();
    // A fresh line: a new pseudo-terminal, the link pointed at it. Returns its path
    // (empty on failure).
    QString replug();
    bool isPlugged() const;

    QList<ReceivedFrame> receivedFrames() const;
    void clearReceivedFrames();
    // Frames cut short by a '$' before their '\r' since start.
    int interleavedFrames() const;
    // How many well-formed frames carried exactly `payload` (the copies of one request).
    int framesWithPayload(const QByteArray &payload) const;
    // Waits up to `timeoutMs` until at least `count` frames are logged.
    bool waitForFrames(int count, int timeoutMs) const;

private:
    enum class Control
    {
        None,
        Unplug,
        Replug,
    };
    using Clock = LineOutput::Clock;

    void serve();
    bool runControl();
    void doUnplug();
    bool doReplug();
    void runControlFromOutside(Control control);
    void wake();
    void drainWake();
    void readLine(short revents);
    void handleFrame(const RequestAssembler::Piece &piece, Clock::time_point now);
    QList<QByteArray> answersAt(int lineSpeed, const QByteArray &request);
    void respond(QByteArray frame, const Fault &fault, Clock::time_point now);
    Fault takeFault(const QByteArray &request);
    void record(const ReceivedFrame &frame);

    QList<SimUnit *> units; // the first is the one given to the constructor

    // Shared, under `mutex`.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Fault armed;
    QList<ReceivedFrame> frames;
    int interleaved = 0;
    QString device;
    QString link;
    QString error;
    bool stopping = false;
    Control control = Control::None;
    bool controlDone = true;

    // The serving thread's own (the owner's while it does not run).
    PtyLine line;
    RequestAssembler assembler;
    LineOutput output;
    bool lineIdle = false;
    quint32 hostileCount = 0; // hostile replies played, varies each one's bytes
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread thread;
};
