#pragma once

#include "serialport.h"

#include <QString>

// What vertal-cli says when the port `port` (opened as `device`) does not open: the cause
// the window advises on too (unit/openfailurecause.h), in the words of a serial port or of
// a network serial server, the system's or the server's `reason` kept, and what to do. One
// line, without the program's name.
QString openFailureText(const QString &port, const QString &device, SerialPort::Error kind,
                        const QString &reason);

// What vertal-cli says when the line `port` went away under a command: a serial device
// unplugged, or a server that ended the connection (with `reason`, the system's words).
QString portGoneText(const QString &port, const QString &device, const QString &reason);
