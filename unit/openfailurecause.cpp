#include "openfailurecause.h"

#include "devicegroup.h"
#include "networkportname.h"

namespace unit {

namespace {

// The causes that are the line's error as it is, on a serial port and a server alike.
OpenFailureCause causeOf(SerialPort::Error kind)
{
    switch (kind) {
    case SerialPort::ResolverSilent:
        return OpenFailureCause::ResolverSilent;
    case SerialPort::HostNotFound:
        return OpenFailureCause::HostNotFound;
    case SerialPort::Refused:
        return OpenFailureCause::Refused;
    case SerialPort::Unreachable:
        return OpenFailureCause::Unreachable;
    case SerialPort::ServerReset:
        return OpenFailureCause::ServerReset;
    case SerialPort::BrokenServer:
        return OpenFailureCause::BrokenServer;
    case SerialPort::NotRfc2217:
        return OpenFailureCause::NotRfc2217;
    case SerialPort::SpeedNotSet:
        return OpenFailureCause::SpeedNotSet;
    case SerialPort::Cancelled:
        return OpenFailureCause::Cancelled;
    case SerialPort::NotFound:
    case SerialPort::Gone:
        return OpenFailureCause::Unplugged;
    default:
        return OpenFailureCause::Other;
    }
}

} // namespace

OpenFailure openFailure(SerialPort::Error kind, const QString &devicePath)
{
    OpenFailure failure;
    const NetworkPortName name = parseNetworkPortName(devicePath);
    if (kind == SerialPort::Permission) {
        failure.cause = OpenFailureCause::NoPermission;
        failure.group = deviceGroup(devicePath);
    } else if (kind == SerialPort::Busy) {
        // A server that is busy serves another client; no program here holds it.
        failure.cause = name.isNetwork() ? OpenFailureCause::ServerBusy : OpenFailureCause::Busy;
    } else if (kind == SerialPort::NotFound && name.kind == NetworkPortName::Invalid) {
        // A server's name without its port is a typing error, no unplugged device.
        failure.cause = OpenFailureCause::InvalidName;
    } else {
        failure.cause = causeOf(kind);
    }
    return failure;
}

} // namespace unit
