#pragma once

#include "clioptions.h"
#include "confirmedsearch.h"
#include "frametrace.h"
#include "unitsearch.h"

#include <QByteArray>
#include <QString>
#include <memory>

class cComPort;

// One connection to the unit for one command: the port (opened through the window's own
// exchange worker), the optional frame trace, and the unit found on the line.
// Every method that can fail prints why on standard error and returns an ExitCode.
class Session
{
public:
    explicit Session(const CliOptions &options);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Opens the trace file and the port. ExitDone, ExitUsage (trace file) or ExitPortFailed
    // (the reason said in the words of a serial port or of a network server). A connection
    // attempt ended by a signal ends the program by that signal.
    int open();
    // Finds the unit as the window does (or at --speed only): its speed, address, boards
    // and version. ExitDone, ExitNoUnit, ExitExchangeFailed or ExitWriteFailed (trace).
    int connect();
    const unit::FoundUnit &unit() const { return found; }

    // How call() takes a garbled reply.
    enum class Garbled
    {
        AskAgain, // a request the unit may get twice (a reading, storing a value)
        Fail,     // one it must not (switching a relay toggles it)
    };
    // One exchange with the unit found by connect(): `payload` holds the request, and the
    // reply on ExitDone. On failure returns ExitExchangeFailed; `what` names the operation
    // in the message. ExitWriteFailed once the trace cannot be written.
    int call(QByteArray &payload, const QString &what, Garbled garbled = Garbled::AskAgain);

    // ExitWriteFailed once a trace line could not be written (already said on standard
    // error), ExitDone otherwise: the program ends rather than leave a trace with holes.
    int traceState() const;

    // Writes the trace's connection header for line speed `baud` and `address` (when a
    // trace is kept): the frames after it go there.
    void traceConnection(int baud, int address);
    cComPort &port() { return *worker; }
    // One request on the port, garbled replies asked again (the program's way: no operator
    // is there to press again after a glitch on the line).
    unit::Exchange askingAgain();
    const CliOptions &options() const { return opts; }

    // How the search and the exchanges after it listen: --listen and --quick.
    unit::Listening listening() const;
    // ExitExchangeFailed, said with the device named (after `what`, the operation it cut
    // short), when the port has gone away (a server's line: the server ended the connection,
    // with the system's reason); ExitDone otherwise.
    int reportPortGone(const QString &what) const;

private:
    int reportOpenFailure() const;
    int reportSearchFailure() const;
    QString speedNotSetText() const;
    bool atServersSpeed() const;
    // "at 19200 baud", or on a bare socket without --speed "at the line speed the server sets".
    QString speedWords(int baud) const;

    const CliOptions &opts;
    FrameTrace trace;
    std::unique_ptr<cComPort> worker;
    unit::FoundUnit found;
};

// "no reply" or "garbled reply (code N)" for an ExchangeResult.
QString describeFailure(int exchangeResult);
