#pragma once

#include <QString>
#include <QStringList>

class QSerialPortInfo;

// Device paths offered beside the ports the system lists: the non-empty entries of the
// ':'-separated VERTAL_EXTRA_PORTS (a simulator's line, a fixed udev name), in their order.
QStringList extraPortPaths(const QString &list);
QStringList extraPortPaths();

// "0403:6001": the USB vendor and product of a port's adapter; empty when the system does
// not know them.
QString usbIdText(const QSerialPortInfo &info);
