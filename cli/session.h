#pragma once

#include "clioptions.h"
#include "frametrace.h"
#include "unitfinder.h"

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

    // Opens the trace file and the port. ExitDone, ExitUsage (trace file) or ExitPortFailed.
    int open();
    // Finds the unit as the window does (or at --speed only): its speed, address, boards
    // and version. ExitDone, ExitNoUnit or ExitExchangeFailed.
    int connect();
    const FoundUnit &unit() const { return found; }

    // One exchange: `payload` holds the request, and the reply on ExitDone. On failure
    // returns ExitNoUnit while nothing has answered on this connection yet, otherwise
    // ExitExchangeFailed; `what` names the operation in the message.
    int call(QByteArray &payload, const QString &what);

    // Sets the line speed and writes the trace's connection header for it and `address`.
    void setSpeed(int baud, int address);
    cComPort &port() { return *worker; }
    const CliOptions &options() const { return opts; }

private:
    int reportSearchFailure() const;

    const CliOptions &opts;
    FrameTrace trace;
    std::unique_ptr<cComPort> worker;
    FoundUnit found;
    bool heardUnit = false;
};

// "no reply" or "garbled reply (code N)" for an ExchangeResult.
QString describeFailure(int exchangeResult);
