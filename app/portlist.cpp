#include "portlist.h"

#include <QSerialPortInfo>

QStringList windowsPortNames(const QStringList &names)
{
    QStringList kept;
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("COM"), Qt::CaseSensitive))
            kept << name;
    }
    return kept;
}

QStringList extraPortPaths(const QString &list)
{
    return list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
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
    return names + extraPortPaths(qEnvironmentVariable("VERTAL_EXTRA_PORTS"));
}
