#include "session.h"

#include "ccomport.h"
#include "confirmedsearch.h"
#include "exchangeresult.h"
#include "exitcodes.h"
#include "interrupt.h"
#include "networkportname.h"
#include "openfailure.h"
#include "output.h"
#include "serialport.h"

#include <QCoreApplication>

Session::Session(const CliOptions &options) : opts(options) {}

Session::~Session()
{
    worker.reset(); // waits for a free link and closes the port while the trace is live
    FrameTrace::install(nullptr);
}

int Session::open()
{
    if (!opts.trace.isEmpty()) {
        if (!trace.open(opts.trace)) {
            Output::error(QStringLiteral("cannot write the trace %1: %2")
                              .arg(opts.trace, trace.errorString()));
            return ExitUsage;
        }
        // Said at once, from the worker's thread; the program ends at its next step.
        trace.onWriteFailure([path = opts.trace](const QString &reason) {
            Output::error(QStringLiteral("cannot write the trace %1: %2").arg(path, reason));
        });
        FrameTrace::install(&trace);
    }
    worker = std::make_unique<cComPort>(opts.port);
    if (worker->openFailed())
        return reportOpenFailure();
    worker->setSendsPerExchange(opts.tries);
    return ExitDone;
}

int Session::reportOpenFailure() const
{
    const SerialPort *line = worker->serialPort();
    const SerialPort::Error kind = line ? line->error() : SerialPort::OtherError;
    // A signal ended the connection attempt before the event loop heard of it.
    if (kind == SerialPort::Cancelled && interrupt::requested())
        interrupt::endBySignal();
    Output::error(openFailureText(opts.port, worker->devicePath(), kind, worker->openError()));
    return ExitPortFailed;
}

void Session::traceConnection(int baud, int address)
{
    if (FrameTrace::installed())
        trace.connection(QStringLiteral("vertal-cli ") + QCoreApplication::applicationVersion(),
                         opts.port, baud, address);
}

unit::Exchange Session::askingAgain()
{
    return [this](QByteArray &payload) { return unit::exchangeAskingAgain(*worker, payload); };
}

int Session::traceState() const
{
    return trace.writeFailed() ? ExitWriteFailed : ExitDone;
}

// A bare socket's line runs at the server's speed, which the program can neither set nor see:
// without --speed the search asks once, at the line's speed as it is.
bool Session::atServersSpeed() const
{
    return opts.speed == 0 && parseNetworkPortName(opts.port).kind == NetworkPortName::RawTcp;
}

QString Session::speedWords(int baud) const
{
    return atServersSpeed() ? QStringLiteral("at the line speed the server sets")
                            : QStringLiteral("at %1 baud").arg(baud);
}

int Session::connect()
{
    unit::SearchPlan plan;
    plan.address = opts.address;
    plan.askAddress = opts.address == 0;
    if (opts.speed != 0)
        plan.speeds = {opts.speed};
    else if (atServersSpeed())
        plan.speeds = {worker->serialPort()->baudRate()}; // sets nothing on a bare socket
    else
        plan.speeds = unit::searchOrder(0);
    plan.endAtGarbled = true;
    unit::SearchHooks hooks;
    hooks.exchange = askingAgain();
    hooks.beforeTry = [this](int, int speed, int address) {
        traceConnection(speed, address);
        return true;
    };
    found = unit::findConfirmedUnit(*worker, plan, hooks, listening());
    // The command's own exchanges listen as long as asked, too.
    worker->setPollsPerAttempt(listening().polls);
    if (const int code = traceState())
        return code;
    if (const int code = reportPortGone(QString()))
        return code;
    if (!found.answered)
        return reportSearchFailure();
    if (found.result == Ok) {
        // The speed the search was at when the unit answered says nothing of a bare socket's.
        if (atServersSpeed())
            found.speed = 0;
        return ExitDone;
    }
    QString text = QStringLiteral("the unit answered %1, then reading its %2 failed: %3")
                       .arg(speedWords(found.speed))
                       .arg(QString::fromLatin1(found.failedStep), describeFailure(found.result));
    if (opts.address == 0 && unit::isGarbled(found.result))
        text += QStringLiteral(" (several units answering address 0? give --address)");
    Output::error(text);
    return ExitExchangeFailed;
}

unit::Listening Session::listening() const
{
    unit::Listening listening;
    if (opts.listenMs > 0)
        listening.polls = exchangeTiming::pollsFor(opts.listenMs);
    listening.quick = opts.quick;
    return listening;
}

int Session::reportPortGone(const QString &what) const
{
    const SerialPort *line = worker->serialPort();
    if (!line || !line->isGone())
        return ExitDone;
    const QString device = worker->devicePath() == opts.port
                               ? opts.port
                               : QStringLiteral("%1 (%2)").arg(opts.port, worker->devicePath());
    Output::error((what.isEmpty() ? QString() : what + QStringLiteral(": ")) +
                  portGoneText(opts.port, device, line->lastErrorString()));
    return ExitExchangeFailed;
}

// Why the search found no unit: what was heard, and at which speed.
int Session::reportSearchFailure() const
{
    const QString at = speedWords(found.garbledSpeed);
    if (found.garbledSpeed && found.everyReplyGarbled && opts.address == 0) {
        Output::error(QStringLiteral("several units answered address 0 at once %1: their "
                                     "replies collided on the line. Give the unit's address with "
                                     "--address, or list the units with scan.")
                          .arg(at));
    } else if (found.garbledSpeed && found.everyReplyGarbled) {
        Output::error(QStringLiteral("only garbled replies came from address %1 %2: noise on "
                                     "the line, or two units answering to one address")
                          .arg(opts.address)
                          .arg(at));
    } else if (found.garbledSpeed) {
        Output::error(QStringLiteral("address %1 answered %2, but only with garbled "
                                     "replies and then silence: a noisy line?")
                          .arg(opts.address)
                          .arg(at));
    } else {
        Output::error(QStringLiteral("no unit answered on %1 at address %2 (%3)%4")
                          .arg(opts.port)
                          .arg(opts.address)
                          .arg(opts.speed         ? QStringLiteral("%1 baud").arg(opts.speed)
                               : atServersSpeed() ? QStringLiteral("at the line speed the server "
                                                                   "sets; give it with --speed")
                                                  : QStringLiteral("six line speeds tried"))
                          .arg(speedNotSetText()));
    }
    return ExitNoUnit;
}

// "; the server keeps its line at 9600 baud: ..." when a server did not take a speed the
// search asked for; empty otherwise.
QString Session::speedNotSetText() const
{
    const SerialPort *line = worker->serialPort();
    if (!line || line->error() != SerialPort::SpeedNotSet)
        return QString();
    return QStringLiteral("; %1").arg(line->lastErrorString());
}

int Session::call(QByteArray &payload, const QString &what, Garbled garbled)
{
    const int result = garbled == Garbled::AskAgain
                           ? unit::exchangeAskingAgain(*worker, payload).result
                           : worker->exchange(payload, false);
    if (const int code = traceState())
        return code;
    if (result == Ok)
        return ExitDone;
    if (const int code = reportPortGone(what))
        return code;
    Output::error(QStringLiteral("%1: %2").arg(what, describeFailure(result)));
    return ExitExchangeFailed;
}

QString describeFailure(int exchangeResult)
{
    switch (exchangeResult) {
    case NoReply:
        return QStringLiteral("no reply");
    case NoPort:
        return QStringLiteral("no port");
    default:
        return QStringLiteral("garbled reply (code %1)").arg(exchangeResult);
    }
}
