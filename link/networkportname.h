#pragma once

#include <QString>

// A line behind a serial device server, named like a port: "rfc2217://HOST:PORT" (the
// program sets the line through Telnet's COM-PORT-OPTION) or "tcp://HOST:PORT" (a bare
// socket; the server's own line speed). HOST is a name, an IPv4 address or an IPv6 address
// in brackets ("rfc2217://[::1]:2000").
struct NetworkPortName
{
    enum Kind
    {
        NotNetwork, // a serial port's name or a device path
        Invalid,    // one of the two schemes, but no HOST:PORT after it
        Rfc2217,
        RawTcp,
    };
    Kind kind = NotNetwork;
    QString host; // without the brackets of an IPv6 address
    quint16 port = 0;

    bool isNetwork() const { return kind != NotNetwork; }
};

// What `name` names; kind NotNetwork for anything without one of the two schemes.
NetworkPortName parseNetworkPortName(const QString &name);

// Where an entry of a ':'-separated list that starts at `from` with one of the schemes ends
// (the index after its port number); -1 when `name` has no scheme at `from`.
qsizetype networkPortNameEnd(const QString &list, qsizetype from);
