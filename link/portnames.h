#pragma once

#include <QString>
#include <QStringList>

class QSerialPortInfo;

// Device paths offered beside the ports the system lists: the non-empty entries of
// VERTAL_EXTRA_PORTS (a simulator's line, a fixed udev name, a serial server's
// rfc2217://HOST:PORT or tcp://HOST:PORT), in their order. Entries are separated by ':' or
// ';'; the ':' inside a network port name are its own.
QStringList extraPortPaths(const QString &list);
QStringList extraPortPaths();

// "0403:6001": the USB vendor and product of a port's adapter; empty when the system does
// not know them.
QString usbIdText(const QSerialPortInfo &info);
