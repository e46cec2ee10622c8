#include "session.h"

#include "ccomport.h"
#include "exchangeresult.h"
#include "exitcodes.h"
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
    if (worker->openFailed()) {
        const SerialPort *line = worker->serialPort();
        // The system's text for a held claim ("Resource temporarily unavailable") would
        // send the operator looking for the wrong fault.
        if (line && line->error() == SerialPort::Busy)
            Output::error(QStringLiteral("cannot open the port %1: it is held by another "
                                         "program; close that program and try again")
                              .arg(opts.port));
        else
            Output::error(
                QStringLiteral("cannot open the port %1: %2").arg(opts.port, worker->openError()));
        return ExitPortFailed;
    }
    worker->setSendsPerExchange(opts.tries);
    return ExitDone;
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

int Session::connect()
{
    unit::SearchPlan plan;
    plan.address = opts.address;
    plan.askAddress = opts.address == 0;
    plan.speeds = opts.speed != 0 ? QList<int>{opts.speed} : unit::searchOrder(0);
    plan.endAtGarbled = true;
    unit::SearchHooks hooks;
    hooks.exchange = askingAgain();
    hooks.beforeTry = [this](int, int speed, int address) {
        traceConnection(speed, address);
        return true;
    };
    found = unit::findUnit(*worker, plan, hooks);
    if (const int code = traceState())
        return code;
    if (!found.answered)
        return reportSearchFailure();
    if (found.result == Ok)
        return ExitDone;
    QString text = QStringLiteral("the unit answered at %1 baud, then reading its %2 failed: %3")
                       .arg(found.speed)
                       .arg(QString::fromLatin1(found.failedStep), describeFailure(found.result));
    if (opts.address == 0 && unit::isGarbled(found.result))
        text += QStringLiteral(" (several units answering address 0? give --address)");
    Output::error(text);
    return ExitExchangeFailed;
}

int Session::reportSearchFailure() const
{
    if (found.garbledSpeed && found.everyReplyGarbled && opts.address == 0) {
        Output::error(QStringLiteral("several units answered address 0 at once at %1 baud: their "
                                     "replies collided on the line. Give the unit's address with "
                                     "--address, or list the units with scan.")
                          .arg(found.garbledSpeed));
    } else if (found.garbledSpeed && found.everyReplyGarbled) {
        Output::error(QStringLiteral("only garbled replies from address %1 (at %2 baud): two "
                                     "units with one address?")
                          .arg(opts.address)
                          .arg(found.garbledSpeed));
    } else if (found.garbledSpeed) {
        Output::error(QStringLiteral("address %1 answered at %2 baud, but only with garbled "
                                     "replies and then silence: a noisy line?")
                          .arg(opts.address)
                          .arg(found.garbledSpeed));
    } else {
        Output::error(QStringLiteral("no unit answered on %1 at address %2 (%3)")
                          .arg(opts.port)
                          .arg(opts.address)
                          .arg(opts.speed ? QStringLiteral("%1 baud").arg(opts.speed)
                                          : QStringLiteral("six line speeds tried")));
    }
    return ExitNoUnit;
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
    // An unplugged adapter is no silence of the unit: the operator looks at the cable.
    const SerialPort *line = worker->serialPort();
    if (line && line->isGone()) {
        Output::error(
            QStringLiteral("%1: the port %2 went away (adapter unplugged?)").arg(what, opts.port));
        return ExitExchangeFailed;
    }
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
