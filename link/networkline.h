#pragma once

#include "netsocket.h"
#include "networkportname.h"
#include "serialport.h"
#include "telnetcodec.h"
#include "telnetoptions.h"

#include <QByteArray>
#include <QMutex>
#include <atomic>
#include <functional>

// The line to the unit through a serial device server, behind SerialPort: a TCP connection
// to rfc2217://HOST:PORT, where the program sets the server's line (Telnet, COM-PORT-OPTION),
// or to tcp://HOST:PORT, whose line the server has set. Its calls are plain socket calls,
// made from whichever thread uses the port (the worker's, one at a time under the link
// lock); the connection made at open is the one socket, closed at close.
//
// The server closing the connection, or the network going away (keep-alive, unacknowledged
// bytes), is the line going away: Gone, as for an unplugged adapter.
//
// The server is not trusted: every wait ends at its deadline whatever arrives, a server that
// sends without end is read at most one piece per poll slice (15 ms) and the line keeps no
// more than a reply and its owed copies can be (the rest is dropped and counted), and Telnet
// options are agreed once per change of state (TelnetOptions).
class NetworkLine
{
public:
    using Report = std::function<void(SerialPort::Error, const QString &)>;

    // `report` is told every failure, with the line's error and the words for it.
    explicit NetworkLine(Report report);
    ~NetworkLine();
    NetworkLine(const NetworkLine &) = delete;
    NetworkLine &operator=(const NetworkLine &) = delete;

    // Resolves and connects within 5 s and, for RFC 2217, sets the line to 4800 8N1 without
    // flow control within 3 s more. Blocks the calling thread: SerialPort runs it beside the
    // window's event loop. The socket, or netsocket::none with the failure reported.
    netsocket::Handle open(const NetworkPortName &name);
    // The opening's steps after the connection, on a socket already connected to the server
    // (taken over: closed at close()); `where` names the server in the reports.
    netsocket::Handle openOn(netsocket::Handle connected, NetworkPortName::Kind kind,
                             const QString &where);
    void close();

    // Ends every connection attempt in progress at once (resolving, connecting, the opening's
    // negotiation): each fails with SerialPort::Cancelled. Attempts begun afterwards are not
    // touched. Any thread; async-signal-safe.
    static void abortAttempts();

    // RFC 2217: asks the server for `baud` and waits (2 s at most) for its answer. False with
    // SpeedNotSet when the server keeps its line at another speed (keptSpeed()). A server
    // that leaves the request unanswered is taken at its word and not waited for again on
    // this connection. Raw TCP: the server's speed is what it is; nothing is sent.
    bool setBaudRate(int baud);
    // The speed the server last said its line is at (0: it has said none).
    int keptSpeed() const { return speedAnswered.load(); }
    qint64 write(const QByteArray &data);
    qint64 bytesAvailable();
    QByteArray readAll();
    bool waitForReadyRead(int ms);

private:
    bool opened(const QString &where);
    // Reads and obeys the server until `done` (checked under the lock) or `deadline`; false
    // on the deadline, the connection's end, an option storm or a cancelled opening.
    bool waitUntil(const std::function<bool()> &done, netsocket::Clock::time_point deadline);
    bool receiveOnce();
    void keep(const QByteArray &bytes);
    void obey(const telnet::Decoder::Command &command, QByteArray &answers);
    bool sendAll(const QByteArray &bytes);
    bool negotiate(netsocket::Clock::time_point deadline);
    bool cancelled() const;
    void noteDropped(bool now);
    void lost(const netsocket::Outcome &outcome);

    Report report;
    netsocket::Handle socket = netsocket::none;
    bool telnetFraming = false;
    std::atomic<bool> ended{false}; // the connection has ended (read from any thread)
    netsocket::Outcome loss;        // how it ended
    bool opening = false;           // open() is under way: an abort ends it
    unsigned openEpoch = 0;
    telnet::Decoder decoder;
    TelnetOptions options;
    bool stormed = false;        // the server sent more option commands than an opening needs
    bool answersStopped = false; // past that after the opening: no more answers
    bool heardServer = false;    // the server has sent something on this connection
    QByteArray received;         // the line's bytes not yet read, bounded
    qint64 dropped = 0;          // bytes beyond the bound, not yet noted in the trace
    netsocket::Clock::time_point lastDropNote{};
    netsocket::Clock::time_point sliceEnd{}; // the poll slice the reads are counted in
    qint64 sliceBytes = 0;                   // bytes read in it
    int sliceReads = 0;                      // reads made in it
    QMutex lock;                             // the state above (calls may come from two threads)
    QMutex sendLock;                         // keeps a Telnet answer out of the middle of a frame
    int speedAsked = 0;                      // a SET-BAUDRATE not yet answered (0: none)
    std::atomic<int> speedAnswered{0};
    bool speedAnswersStopped = false; // the server left one unanswered: no more waits
};
