#include "openfailure.h"

#include "networkportname.h"
#include "openfailurecause.h"

namespace {

using Cause = unit::OpenFailureCause;

// " (reason)", or nothing when the line gave none.
QString inParentheses(const QString &reason)
{
    return reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
}

// A cause in our words: what happened, and what to do. Where the link says it in a sentence
// of its own that names the server ("10.0.0.7 port 2000 reset the connection as soon as it
// was made (...)"), a reason that holds `phrase` is said as it is; other reasons are the
// system's words, given after ours. A cause without words of ours is the reason alone.
struct Wording
{
    Cause cause;
    const char *what;
    const char *phrase;
    const char *advice;
};

const Wording wordings[] = {
    {Cause::NoPermission, "no permission to open it", nullptr,
     "run the program as a user with access to the port"},
    {Cause::Busy, "it is held by another program", nullptr, "close that program and try again"},
    {Cause::Unplugged, "no such device: its adapter is unplugged, or the name is wrong", nullptr,
     "plug the adapter in, or give a port that vertal-cli ports lists"},
    {Cause::InvalidName, "not a serial server's name", nullptr,
     "a server is named rfc2217://HOST:PORT or tcp://HOST:PORT"},
    {Cause::ResolverSilent, "the resolver did not answer for the server's name in time", nullptr,
     "check the network's DNS server, or give the server's IP address"},
    {Cause::HostNotFound, "the server's name is not known", nullptr, "check the name"},
    {Cause::Refused, "the server refused the connection", nullptr,
     "nothing listens on that port: check the port number and that the server runs"},
    {Cause::Unreachable, "the server cannot be reached", nullptr,
     "check the network and the server's address"},
    {Cause::ServerReset, "the server reset the connection as soon as it was made",
     "reset the connection",
     "check that it lets this machine connect and that the port is one of its serial lines"},
    {Cause::BrokenServer, "the server breaks the Telnet protocol", "breaks the Telnet protocol",
     "check that the port is one of its serial lines, or name it tcp://HOST:PORT with --speed"},
    {Cause::NotRfc2217, "the server does not set its line by RFC 2217", "RFC 2217",
     "switch RFC 2217 on at the server, or name the port tcp://HOST:PORT with --speed"},
    {Cause::SpeedNotSet, "the server keeps its line at another speed", "keeps its line",
     "set the line on the server, or name the port tcp://HOST:PORT with its --speed"},
    {Cause::ServerBusy, "the server serves another client", "serves another client",
     "end that client (the wizard, another vertal-cli), or let the server take more than one"},
    {Cause::Cancelled, "the connection attempt was ended", nullptr, nullptr},
};

// The permission advice for a device whose group the user may join.
QString joinGroupAdvice(const QString &group)
{
    return QStringLiteral("join its group %1: sudo usermod -aG %1 $USER, then log out and in "
                          "again")
        .arg(group);
}

// What happened and what to do; the reason alone for a cause without words of ours.
QString causeText(const unit::OpenFailure &failure, const QString &reason)
{
    for (const Wording &w : wordings) {
        if (w.cause != failure.cause)
            continue;
        const bool said = w.phrase && reason.contains(QLatin1String(w.phrase));
        QString text = said ? reason : QString::fromUtf8(w.what) + inParentheses(reason);
        if (!failure.group.isEmpty())
            text += QStringLiteral("; ") + joinGroupAdvice(failure.group);
        else if (w.advice)
            text += QStringLiteral("; ") + QString::fromUtf8(w.advice);
        return text;
    }
    return reason;
}

} // namespace

QString openFailureText(const QString &port, const QString &device, SerialPort::Error kind,
                        const QString &reason)
{
    const unit::OpenFailure failure = unit::openFailure(kind, device);
    // The system's text for a held claim ("Resource temporarily unavailable") would send the
    // operator looking for the wrong fault.
    const QString told = failure.cause == Cause::Busy ? QString() : reason;
    return QStringLiteral("cannot open the port %1: %2").arg(port, causeText(failure, told));
}

QString portGoneText(const QString &port, const QString &device, const QString &reason)
{
    if (parseNetworkPortName(port).isNetwork())
        return QStringLiteral("the server of %1 ended the connection%2")
            .arg(port, inParentheses(reason));
    return QStringLiteral("the port %1 went away: unplugged, or its adapter gone?").arg(device);
}
