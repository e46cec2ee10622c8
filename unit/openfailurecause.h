#pragma once

#include "serialport.h"

#include <QString>

// Why a line did not open, sorted by what the operator has to do about it. The window and
// vertal-cli word each cause in their own language from these facts, so that neither tells
// less than the other.
namespace unit {

enum class OpenFailureCause
{
    NoPermission,   // the device is not the user's to open
    Busy,           // another program holds the device
    Unplugged,      // no such device, or it went away: an adapter unplugged
    InvalidName,    // one of the servers' schemes, but no HOST:PORT after it
    ServerBusy,     // the server closed at once: it serves another client
    ResolverSilent, // the resolver gave no answer for the server's name in time
    HostNotFound,   // the server's name is not known
    Refused,        // nothing listens at the server's port
    Unreachable,    // no route to the server, or no answer in time
    ServerReset,    // the server reset the connection as soon as it was made
    BrokenServer,   // the server breaks the Telnet protocol
    NotRfc2217,     // the server does not set its line by RFC 2217
    SpeedNotSet,    // the server keeps its line at another speed
    Cancelled,      // the operator or a signal ended the attempt: nothing to advise
    Other,          // the system's words are all there is to say
};

struct OpenFailure
{
    OpenFailureCause cause = OpenFailureCause::Other;
    // NoPermission: the device's group, which the user may join; empty when there is none
    // worth joining (root's, or not to be told).
    QString group;
};

// The cause of the line's error `kind` met opening the line at `devicePath` (a device path,
// or a server's rfc2217:// or tcp:// name).
OpenFailure openFailure(SerialPort::Error kind, const QString &devicePath);

} // namespace unit
