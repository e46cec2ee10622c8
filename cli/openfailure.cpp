#include "openfailure.h"

#include "networkportname.h"

namespace {

// " (reason)", or nothing when the line gave none.
QString inParentheses(const QString &reason)
{
    return reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
}

// A server's failure to connect: what happened, in words that name the kind, and what to
// check. Where the link says it in a sentence of its own that names the server ("10.0.0.7
// port 2000 reset the connection as soon as it was made (...)"), a sentence that holds
// `phrase` is said as it is; other reasons are the system's words, given after ours.
struct ServerFailure
{
    SerialPort::Error kind;
    const char *what;
    const char *phrase;
    const char *advice;
};

const ServerFailure serverFailures[] = {
    {SerialPort::ResolverSilent, "the resolver did not answer for the server's name in time",
     nullptr, "check the network's DNS server, or give the server's IP address"},
    {SerialPort::HostNotFound, "the server's name is not known", nullptr, "check the name"},
    {SerialPort::Refused, "the server refused the connection", nullptr,
     "nothing listens on that port: check the port number and that the server runs"},
    {SerialPort::Unreachable, "the server cannot be reached", nullptr,
     "check the network and the server's address"},
    {SerialPort::ServerReset, "the server reset the connection as soon as it was made",
     "reset the connection",
     "check that it lets this machine connect and that the port is one of its serial lines"},
    {SerialPort::BrokenServer, "the server breaks the Telnet protocol",
     "breaks the Telnet protocol",
     "check that the port is one of its serial lines, or name it tcp://HOST:PORT with --speed"},
    {SerialPort::NotRfc2217, "the server does not set its line by RFC 2217", "RFC 2217",
     "switch RFC 2217 on at the server, or name the port tcp://HOST:PORT with --speed"},
    {SerialPort::SpeedNotSet, "the server keeps its line at another speed", "keeps its line",
     "set the line on the server, or name the port tcp://HOST:PORT with its --speed"},
    {SerialPort::Busy, "the server serves another client", "serves another client",
     "end that client (the wizard, another vertal-cli), or let the server take more than one"},
    {SerialPort::Cancelled, "the connection attempt was ended", nullptr, nullptr},
};

// What happened and what to check; empty for the kinds a serial port has too.
QString serverFailure(SerialPort::Error kind, const QString &reason)
{
    for (const ServerFailure &f : serverFailures) {
        if (f.kind != kind)
            continue;
        const bool said = f.phrase && reason.contains(QLatin1String(f.phrase));
        QString text = said ? reason : QString::fromUtf8(f.what) + inParentheses(reason);
        if (f.advice)
            text += QStringLiteral("; ") + QString::fromUtf8(f.advice);
        return text;
    }
    return QString();
}

} // namespace

QString openFailureText(const QString &port, SerialPort::Error kind, const QString &reason)
{
    const bool network = parseNetworkPortName(port).isNetwork();
    QString what = network ? serverFailure(kind, reason) : QString();
    // The system's text for a held claim ("Resource temporarily unavailable") would send the
    // operator looking for the wrong fault.
    if (what.isEmpty() && kind == SerialPort::Busy)
        what = QStringLiteral("it is held by another program; close that program and try again");
    if (what.isEmpty())
        what = reason;
    return QStringLiteral("cannot open the port %1: %2").arg(port, what);
}

QString portGoneText(const QString &port, const QString &device, const QString &reason)
{
    if (parseNetworkPortName(port).isNetwork())
        return QStringLiteral("the server of %1 ended the connection%2")
            .arg(port, inParentheses(reason));
    return QStringLiteral("the port %1 went away: unplugged, or its adapter gone?").arg(device);
}
