#include "portlist.h"

#include "networkportname.h"

#include <QCoreApplication>
#include <QSerialPortInfo>
#include <QStringList>

QStringList windowsPortNames(const QStringList &names)
{
    QStringList kept;
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("COM"), Qt::CaseSensitive))
            kept << name;
    }
    return kept;
}

QStringList listSerialPorts()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
#ifdef Q_OS_WIN
    names = windowsPortNames(names);
#endif
    return names + extraPortPaths();
}

namespace {
// The listed port `name` stands for (a port name or a device path); null when not listed.
QSerialPortInfo infoFor(const QString &name, const QList<QSerialPortInfo> &ports)
{
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == name || info.systemLocation() == name)
            return info;
    }
    return QSerialPortInfo();
}

// A line behind a serial server: which server, and who sets the line's speed.
QString describeNetworkPort(const QString &name, const NetworkPortName &parsed)
{
    switch (parsed.kind) {
    case NetworkPortName::Rfc2217:
        return QCoreApplication::translate(
                   "MainWindow", "%1\nСетевой порт RFC 2217: сервер %2, порт TCP %3\nСкорость "
                                 "линии задаёт программа")
            .arg(name, parsed.host)
            .arg(parsed.port);
    case NetworkPortName::RawTcp:
        return QCoreApplication::translate(
                   "MainWindow", "%1\nСетевой порт TCP: сервер %2, порт TCP %3\nСкорость линии "
                                 "задана на сервере")
            .arg(name, parsed.host)
            .arg(parsed.port);
    default:
        return QCoreApplication::translate(
                   "MainWindow", "%1\nНеверное имя сетевого порта: нужно rfc2217://адрес:порт или "
                                 "tcp://адрес:порт")
            .arg(name);
    }
}

QString describe(const QString &name, const QSerialPortInfo &info)
{
    if (const NetworkPortName parsed = parseNetworkPortName(name); parsed.isNetwork())
        return describeNetworkPort(name, parsed);
    if (info.isNull())
        return name;
    QStringList lines{info.systemLocation().isEmpty() ? name : info.systemLocation()};
    if (!info.description().isEmpty())
        lines << QCoreApplication::translate("MainWindow", "Описание: %1").arg(info.description());
    if (!info.manufacturer().isEmpty())
        lines << QCoreApplication::translate("MainWindow", "Производитель: %1")
                     .arg(info.manufacturer());
    if (const QString usb = usbIdText(info); !usb.isEmpty())
        lines << QStringLiteral("USB: %1").arg(usb);
    if (!info.serialNumber().isEmpty())
        lines << QCoreApplication::translate("MainWindow", "Серийный номер: %1")
                     .arg(info.serialNumber());
    return lines.join(QLatin1Char('\n'));
}
} // namespace

QStringList describePorts(const QStringList &names)
{
    // One look at the system for the whole list: on Windows each look reads the registry
    // and the device manager.
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    QStringList descriptions;
    for (const QString &name : names)
        descriptions << describe(name, infoFor(name, ports));
    return descriptions;
}

QString describePort(const QString &name)
{
    return describePorts({name}).constFirst();
}
