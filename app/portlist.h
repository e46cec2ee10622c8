#pragma once

#include "portnames.h"

#include <QStringList>

// The serial ports the window offers, in the order the system reports them: on Windows the
// ports named "COM..."; elsewhere every port the system lists, by its port name. The device
// paths in VERTAL_EXTRA_PORTS (separated by ':' or ';', a network port name whole, empty
// entries skipped) follow as given.
// An empty list means the machine has no port to offer.
QStringList listSerialPorts();

// Keeps the names that begin with "COM" (case-sensitive), in their order: the Windows
// naming of serial ports.
QStringList windowsPortNames(const QStringList &names);

// What the system knows of the port `name` (a listed port name or a device path), one fact a
// line: its full name, then description, manufacturer, USB vendor:product and serial number
// where known. Shown as the port's tooltip, since the port list cuts long names. A serial
// server's rfc2217:// or tcp:// line: the server, its TCP port and who sets the speed.
QString describePort(const QString &name);
// The descriptions of `names`, in their order, from one reading of the system's ports.
QStringList describePorts(const QStringList &names);
