#pragma once

#include "exchangetiming.h"
#include "serialport.h"
#include "strayreplies.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>

// Exchange worker: sends one request frame to the unit and collects the reply on a thread
// of its own, with up to nine send attempts, while the calling (GUI) thread keeps
// processing its events.
//
// Threads: exchange(), setBaudRate(), the constructors and the destructor are called on
// the GUI thread only; run() is the worker thread. A worker carries at most one exchange
// at a time; two workers may share one SerialPort, and linkBusy keeps their frames apart.
class cComPort : public QThread
{
    Q_OBJECT
public:
    // Owning: creates and opens the port named `portName` (a listed port name, resolved to
    // its device, or a device path) at 4800 8N1. On failure it is constructed all the same
    // (openFailed() tells, the window shows its box); its exchanges then fail.
    explicit cComPort(const QString &portName);
    // Sharing: uses `sharedPort` as it is; never opens, closes or deletes it.
    explicit cComPort(SerialPort *sharedPort);
    // Waits until this worker's thread has ended and, while its port is open, until the link
    // is free (a worker sharing the port may be using it); the owning worker then closes and
    // deletes its port.
    ~cComPort() override;

    // Sends the request payload in `request`; returns an ExchangeResult. On Ok `request`
    // holds the reply payload; otherwise callers must not read it. Returns NoPort at once
    // (request untouched) when there is no port object, and NoReply at once when the port
    // never opened or its device has gone away. Processes the caller's events while it
    // waits; a second call on a worker whose exchange is in flight returns NoReply.
    int exchange(QByteArray &request, bool pauseBeforeRead);

    // True from the start of exchange() until it returns (GUI thread bookkeeping).
    bool isExchanging() const { return exchanging; }

    // Process-wide tallies of exchange() calls (GUI thread), for stress tests: calls that
    // started a transfer, and calls refused because that worker's exchange was in flight
    // (always a fault of the caller).
    static int exchangesStarted() { return startedCount.load(); }
    static int exchangesRefused() { return refusedCount.load(); }

    // True when the owning constructor could not open the port; openError() is the
    // system's reason (empty when the port opened or is shared).
    bool openFailed() const { return !openFailure.isEmpty(); }
    QString openError() const { return openFailure; }
    // The device the owning constructor opened (or tried to); empty for a sharing worker.
    QString devicePath() const { return path; }

    // Copies of the request sent before an exchange gives up with NoReply: nine unless
    // set (at least one). Set only between exchanges.
    void setSendsPerExchange(int sends);
    int sendsPerExchange() const { return sends; }
    // Quiet polls of 15 ms that end one attempt: 21 unless set (at least one). A shorter
    // attempt hears a slow unit's reply only in a later one, or not at all: what it found
    // is the caller's to confirm. Set only between exchanges.
    void setPollsPerAttempt(int polls);
    int pollsPerAttempt() const { return polls; }

    // Ends this worker's exchanges for good: the one in flight stops within one poll (15 ms)
    // or before its next send and returns NoReply, and every later exchange() returns
    // NoReply at once. For a connection that has ended; any thread may call it.
    void stopExchanges() { stopped = true; }
    bool exchangesStopped() const { return stopped.load(); }

    // Sets the line's speed; false when the port cannot (a server that keeps its line at
    // another speed: serialPort()->baudRate() is then that speed).
    bool setBaudRate(int baud);
    SerialPort *serialPort() const { return serial; }

    // Processes events for `ms` milliseconds without spinning.
    static void waitProcessingEvents(int ms);

protected:
    void run() override;

private:
    // What one attempt heard on the line.
    enum class Heard
    {
        Frame,   // a reply ending with a carriage return is in the buffer
        Nothing, // no complete reply within the attempt's polls (or one too long to be real)
        PortGone // the device went away
    };

    int talk(const QByteArray &frame);
    void send(const QByteArray &frame);
    Heard collectReply(QByteArray &reply);
    bool takeReplyBytes(QByteArray &reply, const QByteArray &chunk);
    void logHeard(const QByteArray &chunk);

    SerialPort *serial = nullptr;
    bool ownsPort = false;
    QByteArray *buffer = nullptr;
    int *resultSlot = nullptr;
    bool waitBeforeRead = false;
    bool exchanging = false;
    int sends = exchangeTiming::sends;
    int polls = exchangeTiming::countedPollsPerAttempt;
    QString openFailure;
    QString path;
    std::atomic<bool> stopped{false};
    LineTally tally;       // what the exchange in flight has done on the line (worker thread)
    qint64 floodBytes = 0; // noise of the exchange in flight not written to the trace
    // Atomic: the monitor's lines each run their workers on a thread of their own.
    static inline std::atomic<int> startedCount{0};
    static inline std::atomic<int> refusedCount{0};
};
